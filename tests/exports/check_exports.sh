#!/usr/bin/env bash
# Reads a built module's export table and what it needs from the system, and fails on anything
# beyond the five plugin entry points, on XPLM functions we do not declare, and on anything a
# pilot's machine may not have: on Linux a library outside the allow-list or a symbol version
# newer than the oldest glibc we support (docs/packaging.md), on Windows a DLL that is not part
# of every Windows 10 and 11. Then the module's hardening (docs/packaging.md): on Linux RELRO,
# binding at load and the stack protector, and in an optimised build (`optimised`) glibc's
# bounds-checked calls; on Windows ASLR with high entropy and NX. `exports-only` checks the
# exports alone (a sanitizer build).
#   check_exports.sh linux|windows MODULE XPLM_LIST [exports-only|optimised]
set -euo pipefail
kind=$1 module=$2 xplm_list=$3 mode=${4:-}

expected=$(printf '%s\n' XPluginDisable XPluginEnable XPluginReceiveMessage XPluginStart XPluginStop)
# The oldest glibc the Linux module runs on: libgcc's unwinder, built against Debian 12's glibc,
# calls _dl_find_object, which came with 2.35.
oldest_glibc=2.35
fail() { echo "FAIL: $*" >&2; exit 1; }

case "$kind" in
linux)
    # Defined dynamic symbols other than the section markers the linker always adds.
    exports=$(readelf --dyn-syms -W "$module" | awk '$1 ~ /^[0-9]+:$/ && $7 != "UND" && $5 != "LOCAL" && $8 != "" {print $8}' \
        | sed 's/@.*//' | sort -u)
    [ "$exports" = "$expected" ] || fail "exports are not exactly the five entry points:"$'\n'"$exports"
    # XPLM stays undefined (the simulator resolves it) and only names we declare are used.
    undefined=$(readelf --dyn-syms -W "$module" | awk '$1 ~ /^[0-9]+:$/ && $7 == "UND" {print $8}' | sed 's/@.*//' \
        | sort -u)
    undefined_xplm=$(grep '^XPLM' <<<"$undefined" || true)
    [ -n "$undefined_xplm" ] || fail "no undefined XPLM symbols: were they linked in?"
    unknown=$(comm -23 <(echo "$undefined_xplm") <(sort -u "$xplm_list"))
    [ -z "$unknown" ] || fail "XPLM symbols outside our list: $unknown"
    [ "$mode" = exports-only ] && { echo "ok: $module (exports)"; exit 0; }
    # The C++ runtime and libgcc are inside; the rest is on every desktop distribution.
    needed=$(readelf -d -W "$module" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u)
    allowed='^(libc\.so\.6|libm\.so\.6|ld-linux-x86-64\.so\.2|libGL\.so\.1|libpng16\.so\.16)$'
    for library in $needed; do
        echo "$library" | grep -Eq "$allowed" || fail "needs $library, which a pilot's system may not have"
    done
    # Symbol versions: none of libstdc++ or libgcc (they are linked in), none of glibc newer
    # than the oldest we support, libpng's only ABI version.
    versions=$(readelf -V -W "$module" | sed -n '/Version needs section/,$p' | sed -n 's/.*Name: \([^ ]*\).*/\1/p' \
        | sort -u)
    [ -n "$versions" ] || fail "no symbol versions needed: is this a module that uses glibc?"
    for version in $versions; do
        case "$version" in
        GLIBC_*)
            newest=$(printf '%s\n%s\n' "${version#GLIBC_}" "$oldest_glibc" | sort -V | tail -1)
            [ "$newest" = "$oldest_glibc" ] || fail "needs $version, newer than glibc $oldest_glibc"
            ;;
        PNG16_0) ;;
        *) fail "needs the symbol version $version (a runtime that should be linked in?)" ;;
        esac
    done
    # Hardening. The import table read-only once relocated, every import bound at load so that
    # none of it stays writable for lazy binding.
    readelf -l -W "$module" | grep -Eq '^ *GNU_RELRO ' || fail "no GNU_RELRO segment (-z relro)"
    readelf -d -W "$module" | grep -Eq '\(FLAGS\) .*\bBIND_NOW\b|\(FLAGS_1\) .*\bNOW\b' \
        || fail "imports bound lazily, their table writable (no BIND_NOW: -z now)"
    # The canaries' check calls glibc's __stack_chk_fail; the bounds-checked calls are __*_chk.
    grep -qx '__stack_chk_fail' <<<"$undefined" || fail "no __stack_chk_fail import (-fstack-protector-strong)"
    if [ "$mode" = optimised ]; then
        grep -Eqx '__[a-z0-9_]+_chk' <<<"$undefined" || fail "no __*_chk import in an optimised build (_FORTIFY_SOURCE)"
    fi
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
    # Hardening: loaded at a random address anywhere in 64 bits, its data never executable.
    characteristics=$(echo "$dump" | awk '$1 == "DllCharacteristics" {print $2}')
    [ -n "$characteristics" ] || fail "no DllCharacteristics in the PE header"
    for flag in 0x40:DYNAMIC_BASE:--dynamicbase 0x100:NX_COMPAT:--nxcompat 0x20:HIGH_ENTROPY_VA:--high-entropy-va; do
        IFS=: read -r bit name option <<<"$flag"
        ((0x$characteristics & bit)) || fail "DllCharacteristics 0x$characteristics lacks $name ($option)"
    done
    ;;
*) fail "unknown kind $kind" ;;
esac
echo "ok: $module"
