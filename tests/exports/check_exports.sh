#!/usr/bin/env bash
# Reads a built module's export table (and, for Windows, its import table) and fails on
# anything beyond the five plugin entry points, on XPLM functions we do not declare, and on
# imports a pilot's machine would not have.
set -euo pipefail
kind=$1 module=$2 xplm_list=$3

expected=$(printf '%s\n' XPluginDisable XPluginEnable XPluginReceiveMessage XPluginStart XPluginStop)
fail() { echo "FAIL: $*" >&2; exit 1; }

case "$kind" in
linux)
    # Defined dynamic symbols other than the section markers the linker always adds.
    exports=$(readelf --dyn-syms -W "$module" | awk '$1 ~ /^[0-9]+:$/ && $7 != "UND" && $5 != "LOCAL" && $8 != "" {print $8}' \
        | sed 's/@.*//' | sort -u)
    [ "$exports" = "$expected" ] || fail "exports are not exactly the five entry points:"$'\n'"$exports"
    # XPLM stays undefined (the simulator resolves it) and only names we declare are used.
    undefined_xplm=$(readelf --dyn-syms -W "$module" | awk '$1 ~ /^[0-9]+:$/ && $7 == "UND" {print $8}' | sed 's/@.*//' \
        | grep '^XPLM' | sort -u || true)
    [ -n "$undefined_xplm" ] || fail "no undefined XPLM symbols: were they linked in?"
    unknown=$(comm -23 <(echo "$undefined_xplm") <(sort -u "$xplm_list"))
    [ -z "$unknown" ] || fail "XPLM symbols outside our list: $unknown"
    ;;
windows)
    dump=$(x86_64-w64-mingw32-objdump -p "$module")
    exports=$(echo "$dump" | awk '/^\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && /^[ \t]*\[/ {print $NF; next} on {on=0}' \
        | sort -u)
    [ "$exports" = "$expected" ] || fail "exports are not exactly the five entry points:"$'\n'"$exports"
    dlls=$(echo "$dump" | awk '/DLL Name:/ {print $3}' | sort -u)
    allowed='^(kernel32|user32|gdi32|ole32|oleaut32|opengl32|msvcrt|advapi32|shell32|shlwapi|ucrtbase|ws2_32|api-ms-win-[a-z0-9-]+)\.dll$'
    for dll in $dlls; do
        lower=$(echo "$dll" | tr 'A-Z' 'a-z')
        [ "$lower" = "xplm_64.dll" ] && continue
        echo "$lower" | grep -Eq "$allowed" || fail "imports $dll, which is not a Windows system DLL"
    done
    echo "$dlls" | grep -qx 'XPLM_64.dll' || fail "no import from XPLM_64.dll"
    # Every XPLM function comes from XPLM_64.dll and is one we declare.
    xplm_imports=$(echo "$dump" | awk '/DLL Name:/ {dll=$3; next} dll == "XPLM_64.dll" && NF >= 3 && $3 ~ /^XPLM/ {print $3}' | sort -u)
    unknown=$(comm -23 <(echo "$xplm_imports") <(sort -u "$xplm_list"))
    [ -z "$unknown" ] || fail "XPLM imports outside our list: $unknown"
    misplaced=$(echo "$dump" | awk '/DLL Name:/ {dll=$3; next} dll != "XPLM_64.dll" && NF >= 3 && $3 ~ /^XPLM/ {print dll": "$3}')
    [ -z "$misplaced" ] || fail "XPLM functions imported from elsewhere: $misplaced"
    ;;
*) fail "unknown kind $kind" ;;
esac
echo "ok: $module"
