// The browser-wide settings Chromium keeps in its profile folder, in the JSON file "Local
// State", read once when the browser starts.
#pragma once

#include <string>

namespace chromium {

// Chromium's energy saver, set to stay on, throttles every page's frames to 30 a second.
// The panel never shows more pictures of a page than that: on a page that animates at every
// frame it takes about 28 a second from the browser, and the frames Chromium drew beyond them
// were spent for nothing.
inline constexpr int energySaverAlwaysOn = 3;

// Makes the "Local State" file in `profile` ask for the energy saver always on, keeping
// everything else the file holds. A file that already asks for it is not written; a missing
// one is made; a changed one is replaced whole, never seen half-written (settings_file.h).
// False with `error` set when the file cannot be read, is not Chromium's JSON or is read-only:
// then it is left as it is. Reads and writes a few kilobytes on the caller's thread.
bool askForEnergySaver(const std::string& profile, std::string& error);

}  // namespace chromium
