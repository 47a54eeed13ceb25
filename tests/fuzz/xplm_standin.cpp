#include "xplm_standin.h"

#include <cstring>
#include <utility>

#include "platform/xplm.h"

namespace {
std::string logged;
}  // namespace

std::string takeLoggedText() { return std::exchange(logged, {}); }

void XPLMDebugString(const char* inString) { logged += inString; }

XPLMPluginID XPLMGetMyID(void) { return 1; }

// No module file: the settings code is only ever given explicit paths here.
void XPLMGetPluginInfo(XPLMPluginID, char* outName, char* outFilePath, char* outSignature, char* outDescription) {
    for (char* out : {outName, outFilePath, outSignature, outDescription})
        if (out != nullptr) *out = '\0';
}

char* XPLMExtractFileAndPath(char* inFullPath) {
    char* slash = std::strrchr(inFullPath, '/');
    if (slash == nullptr) return inFullPath;
    *slash = '\0';
    return slash + 1;
}

int XPLMHasFeature(const char*) { return 1; }

void XPLMEnableFeature(const char*, int) {}
