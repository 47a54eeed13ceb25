#include "hostile_gl.h"

#include <array>
#include <cstddef>

namespace xpsim {
namespace {

// Blend factors of OpenGL 1.1 that visibly change a plain textured quad.
constexpr unsigned kOne = 1, kSrcAlpha = 0x0302, kOneMinusSrcAlpha = 0x0303, kDstColor = 0x0306;
constexpr unsigned kFront = 0x0404, kBack = 0x0405, kFrontAndBack = 0x0408, kClockwise = 0x0900,
                   kCounterClockwise = 0x0901;
constexpr unsigned kAdd = 0x0104, kBlend = 0x0BE2, kCombine = 0x8570;

int between(std::mt19937& random, int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }

}  // namespace

HostileGl nextHostileGl(std::mt19937& random) {
    HostileGl state;
    state.activeUnit = between(random, 1, 3);
    // A row length both shorter and longer than any page row: reading rows with it either
    // shears the image or runs past the caller's pixels.
    state.rowLength = between(random, 1, 4096);
    state.skipRows = between(random, 1, 64);
    state.skipPixels = between(random, 1, 64);
    // Neither the byte alignment our rows need nor the default of 4.
    state.alignment = between(random, 0, 1) == 0 ? 2 : 8;
    constexpr std::array<std::array<unsigned, 2>, 3> blends{
        {{kOne, kOne}, {kSrcAlpha, kOneMinusSrcAlpha}, {kDstColor, kOne}}};
    const auto& blend = blends[static_cast<std::size_t>(between(random, 0, 2))];
    state.blendSource = blend[0];
    state.blendDestination = blend[1];
    constexpr std::array<unsigned, 3> faces{kFront, kBack, kFrontAndBack};
    state.cullFace = faces[static_cast<std::size_t>(between(random, 0, 2))];
    state.frontFace = between(random, 0, 1) == 0 ? kClockwise : kCounterClockwise;
    constexpr std::array<unsigned, 3> environments{kAdd, kBlend, kCombine};
    state.texEnvMode = environments[static_cast<std::size_t>(between(random, 0, 2))];
    state.textureMatrix = between(random, 0, 2);
    return state;
}

}  // namespace xpsim
