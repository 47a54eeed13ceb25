// The GL state our texture work needs, taken for its scope and put back as it was found:
// X-Plane gives callbacks no default GL state, so another plugin may have left anything.
#pragma once

#include <array>

#include "platform/gl.h"

// For its lifetime, texture uploads read pixels from the plugin's own memory exactly as they
// lie there: no pixel-unpack buffer bound, rows back to back from the first byte (row length
// and skips 0), byte alignment. X-Plane gives callbacks no default GL state, and a plugin that
// uploads through a pixel buffer may leave one bound, which would turn our pointer into an
// offset into its buffer. Afterwards the buffer binding, row length and skips are put back as
// they were found, for whoever draws next; the alignment stays at 1.
//
// Main thread only, with the simulator's GL context current.
class ClientMemoryUnpack {
public:
    ClientMemoryUnpack();
    ~ClientMemoryUnpack();
    ClientMemoryUnpack(const ClientMemoryUnpack&) = delete;
    ClientMemoryUnpack& operator=(const ClientMemoryUnpack&) = delete;

private:
    GLBindBufferFunction bindBuffer_;
    GLint buffer_ = 0;
    GLint rowLength_ = 0;
    GLint skipRows_ = 0;
    GLint skipPixels_ = 0;
};

// For its lifetime, a quad drawn with the texture on unit 0 shows the texels as they are:
// both faces drawn and filled, the texture coordinates given used as given (no texture matrix,
// no generated coordinates), the 2-D texture not hidden by a 3-D or cube-map one, texels
// modulated by the (white) colour. X-Plane gives callbacks no default GL state, and
// XPLMSetGraphicsState sets none of these, so another plugin may have left any of them: a
// culled face removes the panel, an ADD or BLEND environment washes it out, a texture matrix
// moves or flips it. Afterwards each is put back as it was found, for whoever draws next.
// The states XPLMSetGraphicsState manages are left to it, and the texture unit stays unit 0.
//
// Main thread only, with the simulator's GL context current and texture unit 0 active.
class TexturedQuadState {
public:
    TexturedQuadState();
    ~TexturedQuadState();
    TexturedQuadState(const TexturedQuadState&) = delete;
    TexturedQuadState& operator=(const TexturedQuadState&) = delete;

private:
    // Capabilities that must be off for the quad, and whether each was on.
    static constexpr std::array<GLenum, 7> offForTheQuad{GL_CULL_FACE,       GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T,
                                                         GL_TEXTURE_GEN_R,   GL_TEXTURE_GEN_Q, GL_TEXTURE_3D,
                                                         GL_TEXTURE_CUBE_MAP};
    std::array<bool, offForTheQuad.size()> wasOn_{};
    GLint polygonMode_[2] = {GL_FILL, GL_FILL};  // front, back
    GLint texEnvMode_ = GL_MODULATE;
    GLfloat textureMatrix_[16] = {};
    bool textureMatrixMoved_ = false;  // not the identity
};
