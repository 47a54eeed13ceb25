#pragma once

#include <string>

#include "host.h"

// The one stand-in host of this test process (created on first use, frames unpaced). XPLM
// calls made by the code under test and by the tests go to it.
xpsim::Host& testHost();

// Runs host script commands; fails the current test on a script error.
void hostRun(const std::string& script);

// What the host's log gained since the last call.
std::string newLogText();

// A fresh empty folder under the system's temporary folder.
std::string makeTempFolder();
