// Pieces of the DevTools pipe protocol that need no browser: splitting the byte stream into
// messages, decoding the base64 a snapshot arrives in, and turning the panel's zoom into the
// viewport the page is laid out in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "browser/devtools/base64.h"

namespace cdp {

// Messages on the pipe are JSON texts, each ended by one NUL byte. The reader collects bytes
// as they arrive and yields whole messages. A message longer than the cap means the peer is
// not speaking the protocol (or is feeding us garbage): the reader then fails for good rather
// than grow without bound.
class MessageReader {
public:
    explicit MessageReader(std::size_t maxMessageBytes) : maxMessageBytes_(maxMessageBytes) {}

    // Appends received bytes. False once a message has exceeded the cap.
    bool feed(const char* data, std::size_t size);
    // The next complete message, if any.
    std::optional<std::string> next();
    bool failed() const { return failed_; }

private:
    std::size_t maxMessageBytes_;
    std::string buffer_;
    std::size_t consumed_ = 0;  // bytes of buffer_ already handed out
    std::size_t scanned_ = 0;   // bytes of buffer_ known to hold no NUL
    bool failed_ = false;
};

using devtools::decodeBase64;

// The zoom factor z shows the page at z times its natural size while a snapshot keeps the
// panel's pixel size: the page is laid out in a viewport of width/z × height/z CSS pixels
// rendered at device scale z. The page scale s renders that same layout s times finer: device
// scale z × s, and pictures of width·s × height·s pixels.
struct Viewport {
    int layoutWidth;  // CSS pixels, rounded up so the layout covers the whole snapshot
    int layoutHeight;
    double clipWidth;  // CSS pixels of the snapshot: exactly width × height device pixels at scale 1
    double clipHeight;
    double deviceScale;
    int pictureWidth;  // pixels of a snapshot or frame at the page scale
    int pictureHeight;
};

// True for a zoom factor the page accepts: finite and above 0.
bool usableZoom(double factor);
// The factor the page is actually shown at. Like any browser's zoom it has limits: a factor
// near 0 would ask for a layout millions of pixels wide, so it is held within [0.05, 10].
double effectiveZoom(double factor);
// True for a page scale the page takes: finite, from 1 to 3.
bool usablePageScale(double scale);
// The viewport for a snapshot of width × height pixels at zoom `factor` (usableZoom), at the
// page scale `scale` (usablePageScale).
Viewport viewportFor(int width, int height, double factor, double scale = 1.0);
// A snapshot pixel as a position in CSS pixels, where input events are aimed: the snapshot's
// `pixels` across cover `clipCss` CSS pixels of the page (Viewport::clipWidth or clipHeight),
// whatever size the browser made it.
double pageToCss(int pixel, int pixels, double clipCss);

}  // namespace cdp
