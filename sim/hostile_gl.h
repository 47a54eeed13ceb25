// The GL state a draw callback starts from. X-Plane has no default OpenGL state for plugins:
// each callback finds whatever the simulator and the plugins drawn before it left behind. The
// stand-in hands every callback a different such state, drawn from a seeded generator so a
// failing run can be repeated exactly (--gl-seed). What it catches in the calls a plugin makes:
// glTexImage2D and glTexSubImage2D reading through the bound unpack buffer or with the unpack
// parameters below, and a glTexSubImage2D into whatever texture is bound (the host's small one,
// too small for a page: GL_INVALID_VALUE) rather than the plugin's own.
#pragma once

#include <cstdint>
#include <random>

namespace xpsim {

struct HostileGl {
    int activeUnit = 1;                              // a texture unit other than 0 is active
    int rowLength = 0;                               // GL_UNPACK_ROW_LENGTH, never 0
    int skipRows = 0;                                // GL_UNPACK_SKIP_ROWS, never 0
    int skipPixels = 0;                              // GL_UNPACK_SKIP_PIXELS, never 0
    int alignment = 2;                               // GL_UNPACK_ALIGNMENT, 2 or 8
    unsigned blendSource = 0, blendDestination = 0;  // blending is on with these factors
    // Face culling is on, culling these faces (front, back or both) with this winding counted
    // as the front (clockwise or counter-clockwise).
    unsigned cullFace = 0, frontFace = 0;
    // Texture unit 0's environment: ADD, BLEND (towards magenta) or COMBINE (the colour
    // subtracted from the texel), never the default MODULATE.
    unsigned texEnvMode = 0;
    // Texture unit 0's texture matrix: 0 mirrors s, 1 shifts s and t by half, 2 turns a
    // quarter; never the identity.
    int textureMatrix = 0;
};

HostileGl nextHostileGl(std::mt19937& random);

}  // namespace xpsim
