// Commands about the page as a whole that both backends send as DevTools commands: the colour
// scheme it is told the pilot prefers, and a step back in its history.
#pragma once

#include "browser/devtools/command.h"

namespace devtools {

// Emulation.setEmulatedMedia with prefers-color-scheme dark or light: pages with a dark style
// use it. It holds for the page's later documents too.
Command colorScheme(bool dark);
// Runtime.evaluate of history.back(): the page before, or nothing when there is none.
Command historyBack();

}  // namespace devtools
