// How the page tells the plugin whether its focused element takes text, on pages we did not
// write: a script added to every document (in a world of its own, so the page can neither
// see nor break it) watches focus changes and pointer releases and reports through a
// binding. Both survive navigations and reloads: the browser adds them to each new document.
#pragma once

#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "browser/devtools/command.h"

namespace devtools {

// The commands that set the channel up for a page session, in order. The runtime and page
// domains must be on for the binding to exist and the script to run.
std::vector<Command> textFocusChannel();

// The report carried by a Runtime.bindingCalled event's parameters: true when the focused
// element takes text (an input that takes text, a textarea, an editable element), false
// when it does not or the page is new. Empty for any other binding or a malformed report.
std::optional<bool> textFocusReport(const nlohmann::json& bindingCalledParams);

}  // namespace devtools
