#include "panel/panel_texture.h"

#include <algorithm>
#include <mutex>

#include "panel/page_dialog.h"
#include "panel/panel_window.h"
#include "panel/gl_state.h"
#include "pipeline/frame.h"
#include "platform/gl.h"
#include "plugin/log.h"
#include "plugin/settings.h"

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

// The texture's size as last specified: a picture of another size re-specifies it, one of the
// same size replaces its texels.
int textureWidth = 0;
int textureHeight = 0;
// The serial of the frame held in uploadPixels (pipeline/frame.h).
std::uint64_t takenSerial = 0;
// The texture does not show yet what the panel should show.
bool textureStale = false;
bool textureShowsDialog = false;

// Takes the decode thread's newest frame into uploadPixels by swapping the two buffers, so the
// main thread copies nothing; the decode thread frees the buffer it gets back. The flag is
// taken before the swap, not cleared after the upload: a frame published while this draw
// uploads keeps its flag for the next draw. A flag without a newer frame (a snapshot that
// failed to decode) takes nothing, so an older picture never comes back.
bool takeNewestFrame() {
    if (!frameUpdated.exchange(false)) return false;
    std::lock_guard<std::mutex> lock(frameMutex);
    if (frameSerial == takenSerial) return false;
    takenSerial = frameSerial;
    uploadPixels.swap(framePixels);
    uploadWidth = pageWidth.load();
    uploadHeight = pageHeight.load();
    textureStale = true;
    return true;
}

std::size_t pictureBytes(int width, int height) {
    return static_cast<std::size_t>(width > 0 ? width : 0) * static_cast<std::size_t>(height > 0 ? height : 0) * 4;
}

// Draws the dialog over the page's picture when the picture or the dialog's look changed.
void composeDialog(const PageDialogView& dialog, bool newFrame) {
    if (uploadPixels.empty()) {
        uploadWidth = pageWidth.load();
        uploadHeight = pageHeight.load();
    }
    const std::size_t expected = pictureBytes(uploadWidth, uploadHeight);
    if (!newFrame && textureShowsDialog && pageDialogRevision() == composedRevision && dialogPixels.size() == expected)
        return;
    dialogPixels.assign(expected, 0);
    std::copy_n(uploadPixels.begin(), std::min(expected, uploadPixels.size()), dialogPixels.begin());
    drawDialog(dialogPixels, uploadWidth, uploadHeight, dialog, *shownPageDialogLayout(uploadWidth, uploadHeight));
    composedRevision = pageDialogRevision();
    textureShowsDialog = true;
    textureStale = true;
}

// Puts the picture into the bound texture: re-specified only when the picture's size differs
// from the texture's, otherwise its texels are replaced. With no picture yet (a dialog closed
// before the first frame) the panel goes back to black.
void uploadPicture(const std::vector<std::uint8_t>& picture) {
    textureStale = false;
    if (picture.empty()) {
        setBlankPanelImage();
        return;
    }
    if (uploadWidth <= 0 || uploadHeight <= 0 || picture.size() < pictureBytes(uploadWidth, uploadHeight)) return;
    const ClientMemoryUnpack unpack;
    if (uploadWidth != textureWidth || uploadHeight != textureHeight) {
        // Unsized, so the driver may keep the texels in the order we send them: Mesa then
        // replaces them with a plain copy, where a sized GL_RGBA8 made every later update
        // swizzle each texel (36 times the instructions, measured with llvmpipe).
        glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(GL_RGBA), uploadWidth, uploadHeight, 0, GL_BGRA,
                     GL_UNSIGNED_BYTE, picture.data());
        textureWidth = uploadWidth;
        textureHeight = uploadHeight;
    } else {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, uploadWidth, uploadHeight, GL_BGRA, GL_UNSIGNED_BYTE, picture.data());
    }
}

// The texture stretched over the window's rectangle.
void drawQuad(int left, int top, int right, int bottom) {
    XPLMSetGraphicsState(0, 1, 0, 0, 0, 0, 0);
    // Unit 0 made the active one again through X-Plane's own cache, whatever unit the
    // graphics state left active: the texture state below is the active unit's.
    XPLMBindTexture2d(panelTexture, 0);
    const TexturedQuadState quad;
    // The texture is modulated by the colour: the pilot's brightness darkens every texel alike.
    glColor3f(panelBrightness, panelBrightness, panelBrightness);
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
    // Given as BGRA like every frame (black either way): a first frame of the blank's size then
    // replaces texels already kept in its order.
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(GL_RGBA), panelWidth.load(), panelHeight.load(), 0, GL_BGRA,
                 GL_UNSIGNED_BYTE, blank.data());
    textureWidth = panelWidth.load();
    textureHeight = panelHeight.load();
}

void deletePanelTexture() {
    textureWidth = textureHeight = 0;
    textureStale = textureShowsDialog = false;
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

        const bool newFrame = takeNewestFrame();
        // A page dialog is drawn over the page's last frame (or a black one before the first)
        // each time either changes, and that picture is uploaded instead.
        const PageDialogView* dialog = shownPageDialog();
        if (dialog != nullptr) {
            composeDialog(*dialog, newFrame);
        } else if (textureShowsDialog) {
            textureShowsDialog = false;
            textureStale = true;
        }
        // A draw with nothing new uploads nothing: the texture keeps its picture.
        if (textureStale && panelTexture != 0) uploadPicture(dialog != nullptr ? dialogPixels : uploadPixels);

        drawQuad(left, top, right, bottom);
    });
}
