#include "platform_pump.h"

#include <windows.h>

namespace xpsim {

// X-Plane's main loop drains the thread's Win32 message queue every frame; that is how
// completions a browser posts to the main thread reach a plugin.
void pumpPlatformMessages() {
    // A bound keeps a handler that posts on every message from holding the frame forever;
    // whatever is left waits for the next frame.
    constexpr int kMaxMessagesPerFrame = 1000;
    MSG message;
    for (int i = 0; i < kMaxMessagesPerFrame && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace xpsim
