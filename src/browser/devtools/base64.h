// Standard base64 (RFC 4648, with padding), as the DevTools protocol sends binary data:
// snapshots and screencast frames on both backends.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace devtools {

// False, with `out` unspecified, for anything that is not well-formed base64.
bool decodeBase64(std::string_view text, std::vector<std::uint8_t>& out);

}  // namespace devtools
