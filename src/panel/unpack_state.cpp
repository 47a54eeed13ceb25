#include "panel/unpack_state.h"

#if defined(_WIN32)
#  include <windows.h>

#  include <cstdint>
#  include <initializer_list>
#endif

namespace {

// Without glBindBuffer the context has no buffer objects (OpenGL before 1.5), so nobody can
// have bound an unpack buffer in it and there is none to take away. X-Plane 12 gives plugins
// a context of OpenGL 4 or later, where buffer objects and pixel buffers are core.
GLBindBufferFunction lookUpBindBuffer()
{
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

GLBindBufferFunction bindBufferEntryPoint()
{
    // Asked once the context answers: wglGetProcAddress needs it current.
    static GLBindBufferFunction entry = nullptr;
    if (entry == nullptr) entry = lookUpBindBuffer();
    return entry;
}

}  // namespace

ClientMemoryUnpack::ClientMemoryUnpack() : bindBuffer_(bindBufferEntryPoint())
{
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

ClientMemoryUnpack::~ClientMemoryUnpack()
{
    if (rowLength_ != 0) glPixelStorei(GL_UNPACK_ROW_LENGTH, rowLength_);
    if (skipRows_ != 0) glPixelStorei(GL_UNPACK_SKIP_ROWS, skipRows_);
    if (skipPixels_ != 0) glPixelStorei(GL_UNPACK_SKIP_PIXELS, skipPixels_);
    if (buffer_ != 0) bindBuffer_(GL_PIXEL_UNPACK_BUFFER, static_cast<GLuint>(buffer_));
}
