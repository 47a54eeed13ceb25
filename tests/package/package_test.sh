#!/usr/bin/env bash
# The zip a pilot gets, unpacked into a fresh "X-Plane 12/Resources/plugins" and run as it is:
# its Linux module in xpsim on the demo page with real Chromium, its Windows module in
# xpsim.exe under Wine with the stand-in runtime installed the Evergreen way and no
# WebView2Loader.dll anywhere beside it. On both the panel must fill, take a click and zoom,
# each waited for on screen (xpsim's `until`), never for a fixed time. Before that: the zip holds
# exactly what a pilot should get, its checksum file matches, and both modules are stripped.
#   package_test.sh ZIP
# Needs build/linux/xpsim, and from build/windows xpsim.exe with XPLM_64.dll, the stand-in
# EmbeddedBrowserWebView.dll and evergreen_install.exe (scripts/test's package stage builds
# them). WINEPREFIX as for every Wine test.
set -uo pipefail
zip=$(realpath "$1")
repo=$(cd "$(dirname "$0")/../.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
windows_build=$repo/build/windows
version=$(basename "$zip" .zip)
version=${version#Corvane_Toolbar-}

failed=0
check() {  # what, condition...
    local what=$1; shift
    if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failed=1; fi
}
# Wine paths for files of this machine: drive Z: is /.
wine_path() { local p; p=$(realpath -m "$1"); printf 'Z:%s' "${p//\//\\}"; }

work=$(mktemp -d /tmp/cv-package.XXXXXX)
application='C:\Program Files (x86)\Microsoft\EdgeWebView\Application'
cleanup() {
    wine "$windows_build/tools/webview2_loader/evergreen_install.exe" remove >/dev/null 2>&1
    rm -rf "$WINEPREFIX/drive_c/Program Files (x86)/Microsoft/EdgeWebView"
    timeout 60 wineserver -w
}
trap cleanup EXIT

# --- what is in the zip
plugins="$work/X-Plane 12/Resources/plugins"
mkdir -p "$plugins"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$plugins"
entries=$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip")
unexpected=$(echo "$entries" | grep -Ev '^Corvane_Toolbar/((lin_x64|win_x64|licenses)/)?$' \
    | grep -Ev '^Corvane_Toolbar/(lin_x64/Corvane_Toolbar\.xpl|win_x64/Corvane_Toolbar\.xpl|README\.txt|licenses/[A-Za-z0-9.-]+\.txt)$')
check "nothing in the zip but the modules, the README and licence texts${unexpected:+: $unexpected}" test -z "$unexpected"
for needed in lin_x64/Corvane_Toolbar.xpl win_x64/Corvane_Toolbar.xpl README.txt licenses/gcc-runtime-linux.txt licenses/dejavu-fonts.txt; do
    check "the zip holds Corvane_Toolbar/$needed" grep -qx "Corvane_Toolbar/$needed" <<<"$entries"
done
check "the checksum file matches" bash -c "cd '$(dirname "$zip")' && sha256sum --quiet -c '$zip.sha256'"
lin="$plugins/Corvane_Toolbar/lin_x64"
win="$plugins/Corvane_Toolbar/win_x64"
check "the Linux module is stripped" bash -c "! readelf -S -W '$lin/Corvane_Toolbar.xpl' | grep -Eq '\.symtab|\.debug'"
check "the Windows module is stripped" bash -c "x86_64-w64-mingw32-objdump -t '$win/Corvane_Toolbar.xpl' | grep -qx 'no symbols' \
    && ! x86_64-w64-mingw32-objdump -h '$win/Corvane_Toolbar.xpl' | grep -q debug"
check "the README names the version" grep -q "Corvane Toolbar $version " "$plugins/Corvane_Toolbar/README.txt"

# --- Linux: the demo page in xpsim. The panel's top-left corner mark; the "Connect" button
# turning green at the click; then the page laid out larger at the zoom step, which moves the
# button's top edge down below page pixel (60, 100): page background shows there.
printf '[General]\nzoomLevel = 0.5\nrefreshWebPageSecs = 0\nWebURL = file://%s/demo/index.html\n' "$repo" \
    >"$lin/cv_settings.ini"
XDG_DATA_HOME=$work/data "$repo/build/linux/xpsim" --log "$work/linux.log" "$lin/Corvane_Toolbar.xpl" -e '
    command Corvane/TogglePanel
    until 104 976 ff0000 60
    click 307 863
    until 160 879 2fbf4f 20
    command Corvane/IncreaseWebZoom
    until 160 879 14202e 20
    quit'
status=$?
check "Linux: the demo page filled the panel, took the click and the zoom (exit status $status)" test "$status" -eq 0
check "Linux: the banner names the version" grep -qx "Pluginstart: Corvane Toolbar v$version" "$work/linux.log"
check "Linux: no error and nothing left behind" bash -c "! grep -q -e 'xpsim: error' -e 'xpsim: leak' '$work/linux.log'"
check "Linux: the zoom step was saved" grep -q "zoomLevel = 0.550000" "$lin/cv_settings.ini"

# --- Windows: the stand-in runtime where Microsoft's installer puts it, per machine, and no
# loader: the plugin must find it itself.
check "Windows: no WebView2Loader.dll beside the module" test ! -e "$win/WebView2Loader.dll"
wine "$windows_build/tools/webview2_loader/evergreen_install.exe" install per-machine "$application" 120.0.2210.91 \
    "$(wine_path "$windows_build/tools/webview2_loader/EmbeddedBrowserWebView.dll")"
check "Windows: the stand-in runtime is installed the Evergreen way" test $? -eq 0
CV_WEBVIEW2_RECORD=$(wine_path "$work/record.txt") XPSIM_EXE=$windows_build/xpsim.exe \
    "$repo/scripts/xpsim-wine" --log "$work/windows.log" "$win/Corvane_Toolbar.xpl" -e '
    command Corvane/TogglePanel
    until 104 976 ff0000 30
    click 500 800
    command Corvane/IncreaseWebZoom
    frames 5
    quit'
status=$?
check "Windows: the stand-in's page filled the panel (exit status $status)" test "$status" -eq 0
check "Windows: the banner names the version" grep -qx "Pluginstart: Corvane Toolbar v$version" "$work/windows.log"
check "Windows: the installed runtime was found" grep -qxF \
    "CV: using the installed WebView2 runtime 120.0.2210.91 in C:/Program Files (x86)/Microsoft/EdgeWebView/Application/120.0.2210.91" \
    "$work/windows.log"
check "Windows: no error and nothing left behind" bash -c "! grep -q -e 'xpsim: error' -e 'xpsim: leak' '$work/windows.log'"
check "Windows: the click reached the page" grep -qx "mouse kind=0x201 keys=0 data=0 x=400 y=180" "$work/record.txt"
check "Windows: the zoom step reached the page" grep -qx "zoom 0.550000" "$work/record.txt"
check "Windows: the runtime's library was let go at stop with nothing left" \
    grep -qx "unload live=0 hidden-windows=0 apartment=none" "$work/record.txt"

if [ "$failed" -ne 0 ]; then
    for log in "$work/linux.log" "$work/windows.log" "$work/record.txt"; do
        [ -f "$log" ] && { echo "=== $log"; cat "$log"; }
    done
    echo "the unpacked package and the logs are kept in $work"
    exit 1
fi
rm -rf "$work"
