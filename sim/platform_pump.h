// Once per frame, after the flight loops and before drawing, the host gives the platform a
// chance to deliver queued messages to the main thread, as the real simulator's window loop
// does (browser completions on Windows arrive that way).
#pragma once

namespace xpsim {
void pumpPlatformMessages();
}
