// The GL state a draw callback starts from. X-Plane has no default OpenGL state for plugins:
// each callback finds whatever the simulator and the plugins drawn before it left behind. The
// stand-in hands every callback a different such state, drawn from a seeded generator so a
// failing run can be repeated exactly (--gl-seed).
#pragma once

#include <cstdint>
#include <random>

namespace xpsim {

struct HostileGl {
    int activeUnit = 1;   // a texture unit other than 0 is active
    int rowLength = 0;    // GL_UNPACK_ROW_LENGTH, never 0
    int skipRows = 0;     // GL_UNPACK_SKIP_ROWS, never 0
    int skipPixels = 0;   // GL_UNPACK_SKIP_PIXELS, never 0
    int alignment = 2;    // GL_UNPACK_ALIGNMENT, 2 or 8
    unsigned blendSource = 0, blendDestination = 0;  // blending is on with these factors
};

HostileGl nextHostileGl(std::mt19937& random);

}  // namespace xpsim
