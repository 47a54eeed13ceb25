#include "browser/devtools/page_commands.h"

#include <utility>

namespace devtools {

Command colorScheme(bool dark) {
    return {"Emulation.setEmulatedMedia",
            {{"features",
              nlohmann::json::array({{{"name", "prefers-color-scheme"}, {"value", dark ? "dark" : "light"}}})}}};
}

Command historyBack() {
    // Not awaited: a page blocked by its dialog goes back once it is answered.
    return {"Runtime.evaluate", {{"expression", "history.back()"}, {"awaitPromise", false}}};
}

Command pageCheck() { return {"Runtime.evaluate", {{"expression", "0"}}}; }

Command screencastStart(int width, int height) {
    nlohmann::json params = {{"format", "jpeg"}, {"quality", 90}, {"everyNthFrame", 1}};
    if (width > 0 && height > 0) params.update({{"maxWidth", width}, {"maxHeight", height}});
    return {"Page.startScreencast", std::move(params)};
}

}  // namespace devtools
