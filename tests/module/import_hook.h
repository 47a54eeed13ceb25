#pragma once

#include <string>

// Points a loaded module's binding of one imported function (its GOT slot) at `replacement`,
// so that a test can make a system call fail for that module only, as a hooking library
// would. The binding goes with the module when it is unloaded. False when the module is not
// loaded or does not import the function.
bool replaceImport(const std::string& modulePath, const char* function, void* replacement);
