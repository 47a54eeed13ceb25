// The stand-in runtime DLL's exports, as the loader and the tests find them with GetProcAddress.
#pragma once

#include <windows.h>

#include "platform/webview2.h"

namespace standin {

inline constexpr wchar_t kRuntimeFileName[] = L"WebView2StandInRuntime.dll";

using CreateEnvironmentFunction = HRESULT(STDAPICALLTYPE*)(
    PCWSTR userDataFolder, ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);
using CountFunction = int(STDAPICALLTYPE*)();

inline constexpr char kCreateEnvironmentExport[] = "StandInCreateEnvironment";
inline constexpr char kLiveObjectsExport[] = "StandInLiveObjects";
inline constexpr char kOwedCompletionsExport[] = "StandInOwedCompletions";

}  // namespace standin
