#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host.h"

// The one stand-in host of this test process (created on first use, frames unpaced). XPLM
// calls made by the code under test and by the tests go to it.
xpsim::Host& testHost();

// What the host's log gained since the last call.
std::string newLogText();

// A visible floating window that draws and takes clicks as the panel does, made the panel.
void makePanelLikeWindow(int left, int top, int right, int bottom);

// Hands the draw callback a frame of w x h BGRA pixels, as the decode thread does.
void publishFrame(std::vector<std::uint8_t> pixels, int w, int h);
