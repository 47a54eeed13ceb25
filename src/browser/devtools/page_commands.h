// Commands about the page as a whole that both backends send as DevTools commands: the colour
// scheme it is told the pilot prefers, a step back in its history, a check that it answers, and
// the start of its screencast.
#pragma once

#include "browser/devtools/command.h"

namespace devtools {

// Emulation.setEmulatedMedia with prefers-color-scheme dark or light: pages with a dark style
// use it. It holds for the page's later documents too.
Command colorScheme(bool dark);
// Runtime.evaluate of history.back(): the page before, or nothing when there is none.
Command historyBack();
// Runtime.evaluate of nothing: the page's main thread answers it, and nothing is painted for
// it. A sign of life from a page that does not paint.
Command pageCheck();
// Page.startScreencast of frames no larger than width x height pixels (the browser fits a
// larger paint into them; without a size, its own): a frame at each paint, the next once the
// last is acknowledged. JPEG at 90 decodes five times faster than PNG and keeps text within
// 40 dB of it (docs/performance.md).
Command screencastStart(int width, int height);

}  // namespace devtools
