// Texture names and the graphics state, on the host's real GL context, and the state each
// draw callback starts from.
//
// The context is current on the main thread only. On any other thread these calls find no
// context, as they would in X-Plane: they change nothing in GL and hand out no names (the
// caller has already been told it broke the one-thread rule).
#include "host_state.h"

#include "desktop_renderer.h"
#include "hostile_gl.h"

#if defined(_WIN32)
#    include <windows.h>
#endif
#include <GL/gl.h>

#include <algorithm>
#include <cstdio>

namespace xpsim {
namespace {
constexpr int kFixedFunctionUnits = 4;  // the units XPLMSetGraphicsState switches
}

bool textureExists(int name) { return name > 0 && glIsTexture(static_cast<GLuint>(name)) == GL_TRUE; }

void HostState::generateTextures(int* out, int count) {
    if (out == nullptr || count <= 0) {
        hostLine("XPLMGenerateTextureNumbers with no room for names ignored");
        return;
    }
    if (!onMainThread()) {
        std::fill(out, out + count, 0);
        return;
    }
    std::vector<GLuint> names(static_cast<std::size_t>(count));
    if (renderer_ != nullptr) {
        glGenTextures(count, names.data());
    } else {
        // No context: names are only numbers, and none of them counts as a live texture.
        for (auto& name : names) name = static_cast<GLuint>(++fallbackTextureName_);
    }
    for (int i = 0; i < count; ++i) {
        out[i] = static_cast<int>(names[static_cast<std::size_t>(i)]);
        textures_.push_back(TextureRecord{out[i], currentPlugin_});
    }
    // A fresh name may be one just deleted behind the cache's back.
    boundTexture_.fill(-1);
}

void HostState::bindTexture(int name, int unit) {
    if (unit < 0 || unit >= static_cast<int>(boundTexture_.size())) {
        hostLine("XPLMBindTexture2d with texture unit " + std::to_string(unit) + " ignored");
        return;
    }
    if (renderer_ == nullptr || !onMainThread()) return;
    renderer_->activeTexture(unit);
    auto& cached = boundTexture_[static_cast<std::size_t>(unit)];
    if (cached != name) {
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(name));
        cached = name;
    }
}

void HostState::setGraphicsState(int fog, int texUnits, int lighting, int alphaTest, int blend, int depthTest,
                                 int depthWrite) {
    if (renderer_ == nullptr || !onMainThread()) return;
    auto set = [](GLenum capability, int on) { on ? glEnable(capability) : glDisable(capability); };
    set(GL_FOG, fog);
    // Texturing on for the first texUnits units, off for the rest; unit 0 stays active.
    for (int unit = kFixedFunctionUnits - 1; unit >= 0; --unit) {
        renderer_->activeTexture(unit);
        set(GL_TEXTURE_2D, unit < texUnits);
    }
    set(GL_LIGHTING, lighting);
    set(GL_ALPHA_TEST, alphaTest);
    set(GL_BLEND, blend);
    set(GL_DEPTH_TEST, depthTest);
    glDepthMask(depthWrite ? GL_TRUE : GL_FALSE);
}

void HostState::prepareDrawCallbackGl() {
    renderer_->resetCallbackState();
    if (!options_.hostileGl) {
        // Unit 0 is bound to no texture, the other units to whatever was left: the cache
        // knows nothing, so XPLMBindTexture2d binds on its first call.
        boundTexture_.fill(-1);
        return;
    }
    const HostileGl state = nextHostileGl(glRandom_);
    // Another texture on unit 0 and on the active unit, the other units empty, bound as
    // XPLMBindTexture2d binds: the cache knows it, so a bind of the same name is skipped.
    const int decoy = static_cast<int>(renderer_->decoyTexture());
    for (std::size_t unit = 0; unit < boundTexture_.size(); ++unit) {
        const bool loaded = unit == 0 || static_cast<int>(unit) == state.activeUnit;
        boundTexture_[unit] = loaded ? decoy : 0;
        renderer_->bindTextureOnUnit(static_cast<int>(unit), static_cast<unsigned>(boundTexture_[unit]));
    }
    renderer_->applyHostile(state);
}

void HostState::reportGlError(XPLMPluginID owner, const std::string& where) {
    if (renderer_ == nullptr) return;
    const unsigned error = renderer_->takeGlError();
    if (error == 0) return;
    char code[16];
    std::snprintf(code, sizeof code, "0x%04X", error);
    const std::string line = std::string("error: GL error ") + code + " after " + where;
    if (!reportedGlErrors_.insert(std::to_string(owner) + line).second) return;
    hostLine(line);
}

int HostState::liveTextureCount() const {
    if (renderer_ == nullptr) return 0;
    return static_cast<int>(std::count_if(textures_.begin(), textures_.end(),
                                          [](const TextureRecord& t) { return textureExists(t.name); }));
}

}  // namespace xpsim
