// evergreen_install.exe: the stand-in runtime installed the Evergreen way from a shell script
// (tests/package), or removed from the registry again.
//   evergreen_install install per-machine|per-user APPLICATION_FOLDER VERSION CLIENT_LIBRARY
//   evergreen_install remove
#include <cstdio>
#include <cwchar>

#include "evergreen_install.h"

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wcscmp(argv[1], L"remove") == 0) {
        evergreen::unregisterRuntimes();
        return 0;
    }
    if (argc == 6 && std::wcscmp(argv[1], L"install") == 0) {
        const bool perUser = std::wcscmp(argv[2], L"per-user") == 0;
        if (!perUser && std::wcscmp(argv[2], L"per-machine") != 0) return 2;
        const std::wstring folder = evergreen::installRuntime(
            perUser ? evergreen::Scope::PerUser : evergreen::Scope::PerMachine, argv[3], argv[4], argv[5]);
        if (folder.empty()) {
            std::fprintf(stderr, "evergreen_install: could not install (error %lu)\n", GetLastError());
            return 1;
        }
        return 0;
    }
    std::fprintf(stderr, "usage: evergreen_install install per-machine|per-user APPLICATION_FOLDER VERSION "
                         "CLIENT_LIBRARY | remove\n");
    return 2;
}
