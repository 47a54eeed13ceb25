#!/usr/bin/env bash
# scripts/xpsim-wine the way a new user runs it: right after winepath, with Unix paths, here in
# a folder named in Cyrillic and Chinese, and a script that shows the panel and takes a
# screenshot. The corner marks
# and the grey of the stand-in browser's page must be on it, upright. Then a settings file that
# is a link (made here, as Wine cannot make one), and a module that does not exist: xpsim.exe's
# exit status 1 comes through.
#   xpsim_wine_test.sh XPSIM_EXE MODULE STANDIN_LOADER PNG_PIXELS_EXE STANDIN_RUNTIME
set -uo pipefail
xpsim=$1 module=$2 loader=$3 pixels=$4 runtime=$5
repo=$(cd "$(dirname "$0")/../.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine} WINEDEBUG=-all LC_ALL=C.UTF-8

work=$(mktemp -d /tmp/cv-xpsim-wine.XXXXXX)
plugin="$work/Полёт 飛行/Corvane_Toolbar/win_x64"
shot="$work/Полёт 飛行/панель.png"
mkdir -p "$plugin"
# The stand-in loader finds its runtime beside itself.
cp "$module" "$loader" "$runtime" "$plugin/"

failed=0
check() {  # what, condition...
    local what=$1; shift
    if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failed=1; fi
}

# The trap a new user falls into: winepath, run without a display, leaves a Wine server behind
# for a few seconds, and a Wine program started meanwhile gets no window.
env -u DISPLAY winepath -w "$work" >/dev/null
XPSIM_EXE=$xpsim "$repo/scripts/xpsim-wine" --log "$work/log.txt" "$plugin/Corvane_Toolbar.xpl" \
    -e "command Corvane/TogglePanel; geometry 100 900 868 388; wait 2; screenshot $shot; quit"
status=$?
check "xpsim-wine ran the script (exit status $status)" test "$status" -eq 0
check "the module was found in the folder" grep -q "xpsim: started CorvaneToolbar" "$work/log.txt"
check "the log has no error" bash -c "! grep -q -e 'xpsim: error' -e 'CV: ' '$work/log.txt'"

# Desktop 1920 x 1080, y up; the window's corners are 8 pixels in from (100, 900) and (868, 388).
expected=$'ff0000\n00ff00\n0000ff\nffff00\n606060'
actual=$(wine "$pixels" "Z:${shot//\//\\}" 108 188 859 188 108 683 859 683 484 435 | tr -d '\r')
check "corner marks and page grey on the screenshot" test "$actual" = "$expected"
[ "$actual" = "$expected" ] || printf 'expected:\n%s\nactual:\n%s\n' "$expected" "$actual"
timeout 60 wineserver -w

# The pilot keeps the settings elsewhere and links to them: the zoom step reaches that file,
# and the link stays a link.
printf '[General]\r\nzoomLevel = 0.5\r\n' > "$work/kept.ini"
rm -f "$plugin/cv_settings.ini"
ln -s "$work/kept.ini" "$plugin/cv_settings.ini"
XPSIM_EXE=$xpsim "$repo/scripts/xpsim-wine" --log "$work/log-link.txt" "$plugin/Corvane_Toolbar.xpl" \
    -e "command Corvane/IncreaseWebZoom; frames 5; quit"
check "a linked settings file stays a link" test -L "$plugin/cv_settings.ini"
check "the zoom step is in the file the link names" grep -q "zoomLevel = 0.550000" "$work/kept.ini"
timeout 60 wineserver -w

XPSIM_EXE=$xpsim "$repo/scripts/xpsim-wine" "$work/no such module.xpl" 2>/dev/null
status=$?
check "a module that cannot be loaded exits with 1 (got $status)" test "$status" -eq 1

if [ "$failed" -ne 0 ]; then
    echo "log and screenshot kept in $work"
    cat "$work/log.txt"
    exit 1
fi
rm -rf "$work"
