// The per-platform half of the decode worker: WIC on Windows, libpng and libjpeg-turbo on Linux.
#pragma once

#include <cstdint>
#include <vector>

#include "browser/png_buffer.h"

// Snapshots and frames are the page's size; a header that claims more than this cannot be a
// picture we asked for, and is refused before any pixel memory is reserved for it.
constexpr std::uint32_t maxSnapshotSide = 16384;
constexpr std::uint64_t maxSnapshotBytes = 256ull * 1024 * 1024;

// Called first and last on the decode thread (COM's multithreaded apartment on Windows).
// leaveDecoderThread undoes only what enterDecoderThread did: pass it what that returned.
bool enterDecoderThread();
void leaveDecoderThread(bool entered);

// Decodes one snapshot or frame to 32-bit BGRA, straight alpha, top row first, stride
// width * 4. PNG or JPEG, told apart by their signatures. False (outputs untouched) for
// anything that is neither, or of a size beyond the bounds above.
bool decodeSnapshot(const PngBuffer& snapshot, std::vector<std::uint8_t>& pixels, std::uint32_t& width,
                    std::uint32_t& height);
