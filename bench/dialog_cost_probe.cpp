// dialog_cost_probe: what a page dialog costs the main thread, by the length of its message.
// The module's own code runs as the main thread runs it, XPLM calls going to the stand-in host
// in this process. Two steps, each a function of its own, so that callgrind counts exactly its
// instructions (--collect-atstart=no --toggle-collect=showDialog, or =answerDialog):
//   showDialog    the dialog arrives from the backend, which bounds its texts, and is laid out
//                 and drawn over a 768 x 512 page, as the draw callback does;
//   answerDialog  on the dialog so shown, a click beside its button, a typed key, and Enter.
// bench/dialog_cost_check.py compares an 8 MB message with a one-line one.
//
//   dialog_cost_probe BYTES     a message of BYTES (0: one line)
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "browser/browser.h"
#include "browser/browser_policy.h"
#include "host.h"
#include "panel/dialog_picture.h"
#include "panel/key_translation.h"
#include "panel/page_dialog.h"
#include "panel/panel_input.h"
#include "panel/panel_texture.h"
#include "panel/panel_window.h"
#include "test_host.h"

namespace {
constexpr int width = 768, height = 512;
}  // namespace

extern "C" __attribute__((noinline)) void showDialog(const std::string& message, std::vector<std::uint8_t>& page) {
    askPilot(PageDialogKind::Alert, message, "");
    drawDialog(page, width, height, *shownPageDialog(), *shownPageDialogLayout(width, height));
}

// (x, y): a desktop point on the dialog's box, beside its button.
extern "C" __attribute__((noinline)) void answerDialog(int x, int y) {
    handlePanelMouseClick(panelWindow, x, y, xplm_MouseDown, nullptr);
    handlePanelMouseClick(panelWindow, x, y, xplm_MouseUp, nullptr);
    // The key callback hands its keys to the dialog so (it takes them once the browser is up).
    KeyTranslator keys;
    const std::pair<char, char> typed[] = {{'x', 'X'}, {'\r', static_cast<char>(XPLM_VK_RETURN)}};
    for (const auto& [key, virtualKey] : typed) {
        const KeyInput input = keys.translate(key, xplm_DownFlag, virtualKey);
        pageDialogTyped(input.keys, input.text, input.giveBack);
    }
}

int main(int argc, char** argv) {
    const std::size_t bytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 0;
    std::string message = "Sign-in failed";
    if (bytes > 0) {
        message.clear();
        while (message.size() + 14 <= bytes) message += "Fuel checked. ";
        message.resize(bytes, 'x');
    }
    xpsim::Options options;
    options.paced = false;
    options.logFile = "/dev/null";
    // No frame is drawn: a desktop without area spares the host its OpenGL context.
    options.screenRight = options.screenLeft;
    xpsim::Host host(options);
    // The panel at (100, 980) on the desktop, one boxel a page pixel.
    makePanelLikeWindow(100, 980, 100 + width, 980 - height);
    pageWidth = width;
    pageHeight = height;
    std::vector<std::uint8_t> page(static_cast<std::size_t>(width) * height * 4, 0xff);
    showDialog(message, page);
    const DialogRect box = shownPageDialogLayout(width, height)->box;
    answerDialog(100 + box.left + 6, 980 - (box.top + 6));
    const bool answered = !pageDialogShown();
    destroyPanelWindow();
    return answered ? 0 : 1;
}
