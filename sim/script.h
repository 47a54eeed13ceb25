// The script language of xpsim: user and simulator actions, one per line or ';'-separated.
#pragma once

#include <string>

namespace xpsim {

class HostState;

// Runs the commands in order. False with a message naming the offending line on a script
// error (unknown command, bad argument, a file that cannot be written or a reload that fails).
bool runScript(HostState& host, const std::string& script, std::string& error);

}  // namespace xpsim
