#include "panel/gl_state.h"

#include <algorithm>

#if defined(_WIN32)
#    include <windows.h>

#    include <cstdint>
#    include <initializer_list>
#endif

namespace {

// Without glBindBuffer the context has no buffer objects (OpenGL before 1.5), so nobody can
// have bound an unpack buffer in it and there is none to take away. X-Plane 12 gives plugins
// a context of OpenGL 4 or later, where buffer objects and pixel buffers are core.
GLBindBufferFunction lookUpBindBuffer() {
#if defined(_WIN32)
    // The extension's name first appeared before 1.5 made the call core; both bind the same.
    for (const char* name : {"glBindBuffer", "glBindBufferARB"}) {
        const PROC entry = wglGetProcAddress(name);
        // Some drivers answer small numbers or -1 for names they do not know.
        const auto value = reinterpret_cast<std::uintptr_t>(entry);
        if (value > 3 && value != static_cast<std::uintptr_t>(-1)) {
            return reinterpret_cast<GLBindBufferFunction>(reinterpret_cast<void*>(entry));
        }
    }
    return nullptr;
#else
    return glBindBuffer;
#endif
}

GLBindBufferFunction bindBufferEntryPoint() {
    // Asked once the context answers: wglGetProcAddress needs it current.
    static GLBindBufferFunction entry = nullptr;
    if (entry == nullptr) entry = lookUpBindBuffer();
    return entry;
}

constexpr GLfloat identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// Runs `load` on the texture matrix of the active unit, leaving the matrix mode as it was.
template <typename Load>
void onTextureMatrix(Load load) {
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    glMatrixMode(GL_TEXTURE);
    load();
    glMatrixMode(static_cast<GLenum>(mode));
}

}  // namespace

ClientMemoryUnpack::ClientMemoryUnpack() : bindBuffer_(bindBufferEntryPoint()) {
    if (bindBuffer_ != nullptr) {
        glGetIntegerv(GL_PIXEL_UNPACK_BUFFER_BINDING, &buffer_);
        if (buffer_ != 0) bindBuffer_(GL_PIXEL_UNPACK_BUFFER, 0);
    }
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &rowLength_);
    glGetIntegerv(GL_UNPACK_SKIP_ROWS, &skipRows_);
    glGetIntegerv(GL_UNPACK_SKIP_PIXELS, &skipPixels_);
    if (rowLength_ != 0) glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    if (skipRows_ != 0) glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    if (skipPixels_ != 0) glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
}

ClientMemoryUnpack::~ClientMemoryUnpack() {
    if (rowLength_ != 0) glPixelStorei(GL_UNPACK_ROW_LENGTH, rowLength_);
    if (skipRows_ != 0) glPixelStorei(GL_UNPACK_SKIP_ROWS, skipRows_);
    if (skipPixels_ != 0) glPixelStorei(GL_UNPACK_SKIP_PIXELS, skipPixels_);
    if (buffer_ != 0) bindBuffer_(GL_PIXEL_UNPACK_BUFFER, static_cast<GLuint>(buffer_));
}

TexturedQuadState::TexturedQuadState() {
    for (std::size_t i = 0; i < offForTheQuad.size(); ++i) {
        wasOn_[i] = glIsEnabled(offForTheQuad[i]) != 0;
        if (wasOn_[i]) glDisable(offForTheQuad[i]);
    }
    glGetIntegerv(GL_POLYGON_MODE, polygonMode_);
    if (polygonMode_[0] != GL_FILL || polygonMode_[1] != GL_FILL) {
        glPolygonMode(GL_FRONT, static_cast<GLenum>(GL_FILL));
        glPolygonMode(GL_BACK, static_cast<GLenum>(GL_FILL));
    }
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &texEnvMode_);
    if (texEnvMode_ != GL_MODULATE) glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glGetFloatv(GL_TEXTURE_MATRIX, textureMatrix_);
    textureMatrixMoved_ = !std::equal(std::begin(textureMatrix_), std::end(textureMatrix_), std::begin(identity));
    if (textureMatrixMoved_) onTextureMatrix([] { glLoadIdentity(); });
}

TexturedQuadState::~TexturedQuadState() {
    if (textureMatrixMoved_) onTextureMatrix([this] { glLoadMatrixf(textureMatrix_); });
    if (texEnvMode_ != GL_MODULATE) glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, texEnvMode_);
    if (polygonMode_[0] != GL_FILL || polygonMode_[1] != GL_FILL) {
        glPolygonMode(GL_FRONT, static_cast<GLenum>(polygonMode_[0]));
        glPolygonMode(GL_BACK, static_cast<GLenum>(polygonMode_[1]));
    }
    for (std::size_t i = 0; i < offForTheQuad.size(); ++i)
        if (wasOn_[i]) glEnable(offForTheQuad[i]);
}
