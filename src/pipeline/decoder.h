// The per-platform half of the decode worker: WIC on Windows, libpng on Linux.
#pragma once

#include <cstdint>
#include <vector>

#include "browser/png_buffer.h"

// Called first and last on the decode thread (COM's multithreaded apartment on Windows).
// leaveDecoderThread undoes only what enterDecoderThread did: pass it what that returned.
bool enterDecoderThread();
void leaveDecoderThread(bool entered);

// Decodes one snapshot to 32-bit BGRA, straight alpha, top row first, stride width * 4.
// False (outputs untouched) for anything that is not a PNG of a size we accept.
bool decodeSnapshot(const PngBuffer& snapshot, std::vector<std::uint8_t>& pixels, std::uint32_t& width,
                    std::uint32_t& height);
