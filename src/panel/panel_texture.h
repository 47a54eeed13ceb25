#pragma once

#include <cstdint>
#include <vector>

#include "platform/xplm.h"

// The page texture and the draw callback's own copy of the newest frame. Main thread only,
// with the simulator's GL context current.
extern int panelTexture;
extern std::vector<std::uint8_t> uploadPixels;
// The size of the frame held in uploadPixels, so every upload names the size of its bytes.
extern int uploadWidth;
extern int uploadHeight;

// Start-up step one: a texture name with linear filters, bound.
void createPanelTexture();
// Start-up step two: a blank panelWidth x panelHeight image in the bound texture.
void setBlankPanelImage();
void deletePanelTexture();

void drawPanelWindow(XPLMWindowID inWindowID, void* inRefcon);
