#include "panel/panel_texture.h"

#include <algorithm>
#include <mutex>

#include "panel/page_dialog.h"
#include "panel/panel_window.h"
#include "panel/gl_state.h"
#include "pipeline/frame.h"
#include "platform/gl.h"
#include "plugin/log.h"

static_assert(sizeof(int) == sizeof(GLuint), "the texture name is handed to GL as a GLuint");

namespace {

// Zero texels of the panel's size: the black picture shown until the first frame arrives.
// Made once and kept; remade only if the panel size it was made for has changed.
const std::vector<std::uint8_t>& blankPixels() {
    static std::vector<std::uint8_t> pixels;
    const int width = panelWidth.load() > 0 ? panelWidth.load() : 0;
    const int height = panelHeight.load() > 0 ? panelHeight.load() : 0;
    const std::size_t size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
    if (pixels.size() != size) pixels.assign(size, 0);
    return pixels;
}

// The page's picture with its dialog drawn over it, and the dialog's look it shows.
std::vector<std::uint8_t> dialogPixels;
unsigned composedRevision = 0;

// The texture stretched over the window's rectangle.
void drawQuad(int left, int top, int right, int bottom) {
    XPLMSetGraphicsState(0, 1, 0, 0, 0, 0, 0);
    // Unit 0 made the active one again through X-Plane's own cache, whatever unit the
    // graphics state left active: the texture state below is the active unit's.
    XPLMBindTexture2d(panelTexture, 0);
    const TexturedQuadState quad;
    glColor3f(1.0f, 1.0f, 1.0f);
    // Texture row 0 is the top of the page, so t = 0 goes to the window's top edge.
    glBegin(GL_QUADS);
    glTexCoord2i(0, 1);
    glVertex2i(left, bottom);
    glTexCoord2i(0, 0);
    glVertex2i(left, top);
    glTexCoord2i(1, 0);
    glVertex2i(right, top);
    glTexCoord2i(1, 1);
    glVertex2i(right, bottom);
    glEnd();
}

}  // namespace

void createPanelTexture() {
    XPLMGenerateTextureNumbers(&panelTexture, 1);
    XPLMBindTexture2d(panelTexture, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
}

void setBlankPanelImage() {
    const std::vector<std::uint8_t>& blank = blankPixels();
    if (blank.empty()) return;
    const ClientMemoryUnpack unpack;
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(GL_RGBA), panelWidth.load(), panelHeight.load(), 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, blank.data());
}

void deletePanelTexture() {
    if (panelTexture == 0) return;
    glDeleteTextures(1, reinterpret_cast<const GLuint*>(&panelTexture));
    panelTexture = 0;
}

void drawPanelWindow(XPLMWindowID inWindowID, void*) {
    guarded("CV: drawing the panel failed", [&] {
        if (panelWindow == nullptr || XPLMGetWindowIsVisible(panelWindow) == 0) return;

        int left = 0, top = 0, right = 0, bottom = 0;
        XPLMGetWindowGeometry(inWindowID, &left, &top, &right, &bottom);
        XPLMBindTexture2d(panelTexture, 0);

        // The flag is taken before the copy, not cleared after the upload: a frame the decode
        // thread publishes while this draw uploads keeps its flag and is shown by the next draw.
        const bool copied = frameUpdated.exchange(false);
        if (copied) {
            // Only the copy happens under the lock; GL work waits until it is released.
            std::lock_guard<std::mutex> lock(frameMutex);
            uploadPixels.assign(framePixels.begin(), framePixels.end());
            uploadWidth = pageWidth.load();
            uploadHeight = pageHeight.load();
        }

        // A page dialog is drawn over the page's last frame (or a black one before the first)
        // each time either changes, and that picture is uploaded instead.
        const PageDialogView* dialog = shownPageDialog();
        if (dialog != nullptr && uploadPixels.empty()) {
            uploadWidth = pageWidth.load();
            uploadHeight = pageHeight.load();
        }
        const std::size_t expected = static_cast<std::size_t>(uploadWidth > 0 ? uploadWidth : 0) *
                                     static_cast<std::size_t>(uploadHeight > 0 ? uploadHeight : 0) * 4;
        if (dialog != nullptr &&
            (copied || pageDialogRevision() != composedRevision || dialogPixels.size() != expected)) {
            dialogPixels.assign(expected, 0);
            std::copy_n(uploadPixels.begin(), std::min(expected, uploadPixels.size()), dialogPixels.begin());
            drawDialog(dialogPixels, uploadWidth, uploadHeight, *dialog,
                       *shownPageDialogLayout(uploadWidth, uploadHeight));
            composedRevision = pageDialogRevision();
        }
        const std::vector<std::uint8_t>& picture = dialog != nullptr ? dialogPixels : uploadPixels;
        if (!picture.empty() && panelTexture != 0 && picture.size() >= expected) {
            XPLMBindTexture2d(panelTexture, 0);
            const ClientMemoryUnpack unpack;
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, uploadWidth, uploadHeight, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                         picture.data());
        } else if (copied) {
            // Nothing could be shown from this copy; keep asking for it on the next draw.
            frameUpdated.store(true);
        }

        drawQuad(left, top, right, bottom);
    });
}
