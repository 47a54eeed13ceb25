// One DevTools protocol command: its method and JSON parameters. Both backends send the same
// commands, the Linux one over Chromium's pipe, the Windows one through WebView2's
// CallDevToolsProtocolMethod; this code builds them once for both.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace devtools {

struct Command {
    std::string method;
    nlohmann::json params;
};

}  // namespace devtools
