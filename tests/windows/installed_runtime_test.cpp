// How the plugin's own loader reads the version folders the registry names and chooses among
// them; the module and package tests install a runtime the Evergreen way and see it taken.
#include <gtest/gtest.h>

#include <algorithm>

#include "browser/webview2/installed_runtime.h"

namespace {

TEST(InstalledRuntimeVersion, IsTheFolderNameAsFourNumbersOrNothing) {
    using Parts = std::array<unsigned long, 4>;
    EXPECT_EQ(runtimeVersionOf(L"C:\\Program Files (x86)\\Microsoft\\EdgeWebView\\Application\\120.0.2210.91")->parts,
              (Parts{120, 0, 2210, 91}));
    EXPECT_EQ(runtimeVersionOf(L"C:\\x\\86.0.616.0\\\\")->parts, (Parts{86, 0, 616, 0}));
    for (const wchar_t* notAVersion : {L"C:\\x\\120.0.2210", L"C:\\x\\120.0.2210.91.1", L"C:\\x\\120.0.2210.9a",
                                       L"C:\\x\\120..2210.91", L"C:\\x\\Application", L"", L"C:\\x\\1.2.3.1234567890"})
        EXPECT_FALSE(runtimeVersionOf(notAVersion)) << notAVersion;
}

TEST(InstalledRuntimeChoice, TheNewestFolderWithItsClientLibraryNotOlderThanWindowlessHosting) {
    const std::wstring present[] = {L"C:\\a\\120.0.2210.91\\EBWebView\\x64\\EmbeddedBrowserWebView.dll",
                                    L"C:\\b\\99.0.1150.2\\EBWebView\\x64\\EmbeddedBrowserWebView.dll",
                                    L"C:\\c\\85.0.564.40\\EBWebView\\x64\\EmbeddedBrowserWebView.dll"};
    const auto exists = [&](const std::wstring& path) {
        return std::find(std::begin(present), std::end(present), path) != std::end(present);
    };
    std::vector<std::wstring> skipped;
    const auto chosen = newestUsableRuntime({L"C:\\b\\99.0.1150.2", L"C:\\a\\120.0.2210.91\\", L"C:\\gone\\130.0.0.1",
                                             L"C:\\c\\85.0.564.40", L"C:\\d\\new"},
                                            exists, skipped);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->folder, L"C:\\a\\120.0.2210.91");
    EXPECT_EQ(chosen->clientDll, present[0]);
    EXPECT_EQ(skipped, (std::vector<std::wstring>{L"C:\\gone\\130.0.0.1", L"C:\\c\\85.0.564.40", L"C:\\d\\new"}));

    skipped.clear();
    EXPECT_FALSE(newestUsableRuntime({}, exists, skipped));
    EXPECT_TRUE(skipped.empty());
}

}  // namespace
