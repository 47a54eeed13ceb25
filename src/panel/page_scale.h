// How many pixels the panel covers: window geometry is in boxels, which X-Plane draws at its
// user-interface scale (100 % to 200 %, and twice that on a HiDPI display).
#pragma once

#include "platform/xplm.h"

// "sim/graphics/misc/user_interface_scale" (pixels per boxel), looked up with the window; null
// where the simulator does not publish it.
extern XPLMDataRef uiScaleRef;

// Pixels per boxel from the scale the simulator publishes: 1 for a value that cannot be one
// (zero, negative, not a number, or beyond any display's).
double pixelsPerBoxel(float publishedScale);
