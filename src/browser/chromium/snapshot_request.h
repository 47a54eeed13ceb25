// The parameters of the backend's Page.captureScreenshot (a PNG of exactly the picture's size
// at the page's zoom and scale) and of its Page.startScreencast. In a header of its own so the
// bench's probes send the very requests the plugin sends.
#pragma once

#include <nlohmann/json.hpp>

#include "browser/chromium/cdp_wire.h"

namespace cdp {

// Chromium applies a clip by an emulation of its own, without the page scale, while the
// snapshot is out: input sent meanwhile would land off its place. In the scaled view
// (`clipped` false) the snapshot is the visible size, the picture's size already.
inline nlohmann::json snapshotParams(const Viewport& v, bool clipped = true) {
    if (!clipped)
        return {{"format", "png"}, {"fromSurface", true}, {"captureBeyondViewport", false}, {"optimizeForSpeed", true}};
    // The clip, in CSS pixels at scale 1, is exactly the panel's pixel size at the page's
    // zoom, whatever rounding the layout size needed. The speed-optimised PNG encoding makes
    // a larger file that the browser writes and we decode in less time, with less of the
    // browser's CPU (docs/performance.md); a browser too old to know it ignores it.
    return {{"format", "png"},
            {"fromSurface", true},
            {"captureBeyondViewport", false},
            {"optimizeForSpeed", true},
            {"clip", {{"x", 0}, {"y", 0}, {"width", v.clipWidth}, {"height", v.clipHeight}, {"scale", 1}}}};
}

// A shot of a busy page: the same picture as a JPEG, as the screencast's frames are.
inline nlohmann::json shotParams(const Viewport& v, bool clipped) {
    nlohmann::json params = snapshotParams(v, clipped);
    params["format"] = "jpeg";
    params["quality"] = 90;
    return params;
}

}  // namespace cdp
