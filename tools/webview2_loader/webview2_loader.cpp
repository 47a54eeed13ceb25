// The stand-in WebView2Loader.dll: the loader function only, as Microsoft's is. It finds the
// stand-in runtime, loads it and never frees it (the real runtime's client library may stay
// loaded too), and hands it the request. At unload it records what the plugin left behind.
#include <windows.h>

#include <string>

#include "platform/webview2.h"
#include "standin_runtime.h"
#include "standin_support.h"

namespace {

HINSTANCE loaderInstance = nullptr;
HMODULE runtime = nullptr;  // never freed

// CV_WEBVIEW2_RUNTIME, or the runtime beside this DLL.
std::wstring runtimePath() {
    const std::string configured = standin::environmentVariable("CV_WEBVIEW2_RUNTIME");
    if (!configured.empty()) {
        const int size = MultiByteToWideChar(CP_UTF8, 0, configured.c_str(), -1, nullptr, 0);
        std::wstring wide(size > 1 ? static_cast<std::size_t>(size - 1) : 0, L'\0');
        if (size > 1) MultiByteToWideChar(CP_UTF8, 0, configured.c_str(), -1, wide.data(), size);
        return wide;
    }
    wchar_t own[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(loaderInstance, own, MAX_PATH);
    std::wstring path(own, length);
    return path.substr(0, path.find_last_of(L'\\') + 1) + standin::kRuntimeFileName;
}

template <class Function>
Function runtimeExport(const char* name) {
    return runtime == nullptr ? nullptr
                              : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(runtime, name)));
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browserExecutableFolder, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* environmentOptions,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* environmentCreatedHandler) {
    using namespace standin;
    record(std::string("create-environment folder=") + narrow(browserExecutableFolder) + " user-data=" +
           narrow(userDataFolder) + " options=" + (environmentOptions ? "set" : "null") + " apartment=" + apartment());
    if (environmentCreatedHandler == nullptr) return E_INVALIDARG;
    if (cue("refuse-environment")) {
        record("environment refused");
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    if (refusesDefaultUserData(userDataFolder)) return E_ACCESSDENIED;
    if (runtime == nullptr) {
        const std::wstring path = runtimePath();
        runtime = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (runtime == nullptr) {
            record("error no runtime at " + narrow(path.c_str()));
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        }
    }
    const auto create = runtimeExport<CreateEnvironmentFunction>(kCreateEnvironmentExport);
    return create != nullptr ? create(userDataFolder, environmentCreatedHandler) : E_NOINTERFACE;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        loaderInstance = instance;
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // FreeLibrary, not process exit: what the plugin left behind when it let go of us.
        using namespace standin;
        const auto liveObjects = runtimeExport<CountFunction>(kLiveObjectsExport);
        record("unload live=" + std::to_string(liveObjects != nullptr ? liveObjects() : 0) +
               " hidden-windows=" + std::to_string(hostWindowsOfThisThread()) + " apartment=" + apartment());
    }
    return TRUE;
}
