#include "browser/devtools/page_commands.h"

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

}  // namespace devtools
