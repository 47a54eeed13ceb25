#include "panel/quad_state.h"

#include <algorithm>

namespace {

constexpr GLfloat identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// Runs `load` on the texture matrix of the active unit, leaving the matrix mode as it was.
template <typename Load>
void onTextureMatrix(Load load)
{
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    glMatrixMode(GL_TEXTURE);
    load();
    glMatrixMode(static_cast<GLenum>(mode));
}

}  // namespace

TexturedQuadState::TexturedQuadState()
{
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

TexturedQuadState::~TexturedQuadState()
{
    if (textureMatrixMoved_) onTextureMatrix([this] { glLoadMatrixf(textureMatrix_); });
    if (texEnvMode_ != GL_MODULATE) glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, texEnvMode_);
    if (polygonMode_[0] != GL_FILL || polygonMode_[1] != GL_FILL) {
        glPolygonMode(GL_FRONT, static_cast<GLenum>(polygonMode_[0]));
        glPolygonMode(GL_BACK, static_cast<GLenum>(polygonMode_[1]));
    }
    for (std::size_t i = 0; i < offForTheQuad.size(); ++i)
        if (wasOn_[i]) glEnable(offForTheQuad[i]);
}
