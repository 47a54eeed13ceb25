// The WebView2 runtime found and loaded by the plugin itself, for a plugin folder without
// Microsoft's WebView2Loader.dll: the Evergreen runtime installed per machine or per user,
// the newest usable version, reached through its own client library. Main thread only.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/webview2.h"

// "120.0.2210.91" as four numbers, compared part by part.
struct RuntimeVersion {
    std::array<unsigned long, 4> parts{};
    auto operator<=>(const RuntimeVersion&) const = default;
};

// The version a runtime version folder is named after (its last path component); none when
// that is not four dot-separated numbers.
std::optional<RuntimeVersion> runtimeVersionOf(const std::wstring& versionFolder);

struct InstalledRuntime {
    std::wstring folder;     // the version folder, as the registry names it
    std::wstring clientDll;  // the client library in it
    RuntimeVersion version;
};

// Of the version folders the registry names, the newest that is not older than the oldest
// runtime with windowless hosting and whose client library `exists`. Folders that fail either
// test are added to `skipped`.
std::optional<InstalledRuntime> newestUsableRuntime(const std::vector<std::wstring>& versionFolders,
                                                    const std::function<bool(const std::wstring&)>& exists,
                                                    std::vector<std::wstring>& skipped);

// Looks the installed runtime up in the registry. Logs one line: the runtime it will use, or
// what to install and where from. Returns the function to call in place of the loader's
// CreateCoreWebView2EnvironmentWithOptions, or null when there is no usable runtime.
CreateCoreWebView2EnvironmentWithOptionsFunction findInstalledRuntime();

// At stop, once every WebView2 reference is released: lets go of the client library when the
// runtime says it may be unloaded. `keepLoaded` when WebView2 still holds a handler of ours:
// its late calls may run through the library, which then stays loaded as we do.
void releaseInstalledRuntime(bool keepLoaded);
