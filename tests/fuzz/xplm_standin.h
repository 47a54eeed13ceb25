// The few simulator functions the settings code calls, without a simulator: the log is kept
// in memory for the fuzz target to read.
#pragma once

#include <string>

// Everything logged through XPLMDebugString since the last call, which empties it.
std::string takeLoggedText();
