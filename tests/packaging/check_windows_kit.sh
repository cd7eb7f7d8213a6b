#!/usr/bin/env bash
# Assembles the Windows host kit of a mingw cross build (build-windows/kit) and checks it:
#   - the files a host developer needs are there, the virtual cable in its own folder;
#   - both import libraries (KestrelLink.lib for MSVC, libKestrelLink.dll.a for mingw) define
#     exactly the 56 exports under the names the DLL exports, each with its __imp_ pointer, as
#     the toolchain's nm lists them (no MSVC here: its linker is not tried);
#   - a C host linked with each import library and a C++ host calling decorated exports through
#     the header run under Wine against the virtual cable's ftd2xx.dll;
#   - the kit's kestrel.exe prints its version and runs the demo under Wine.
# Usage: tests/packaging/check_windows_kit.sh [BUILD_DIR]   (default: build-windows)
# Wine runs through tests/wine/wine-run.sh (KESTREL_WINEPREFIX names the prefix, as in test.sh).
set -euo pipefail
default_build=build-windows
source "$(dirname "$0")/common.sh"
kit=$build/kit
wine_run() { "$root/tests/wine/wine-run.sh" "$@"; }

cmake --build "$build" --target windows_kit >/dev/null
for file in bin/KestrelLink.dll bin/KestrelEngine.dll bin/kestrel.exe include/kestrellink.h include/kestrellink/vcable.h \
    lib/KestrelLink.lib lib/libKestrelLink.dll.a lib/kestrellink/virtual-cable/ftd2xx.dll \
    share/doc/KestrelLink/windows.md; do
    [ -e "$kit/$file" ] || fail "the kit lacks $file"
done
[ ! -e "$kit/bin/ftd2xx.dll" ] || fail "the virtual cable's ftd2xx.dll is in bin/, beside every program"

# The names the DLL exports, from the export table.
awk -F'\t' '/^[0-9]/ {print $4}' src/shell/exports.tsv | sort >"$work/exports.txt"
for library in KestrelLink.lib libKestrelLink.dll.a; do
    x86_64-w64-mingw32-nm "$kit/lib/$library" 2>/dev/null >"$work/nm.txt"
    awk '$2 == "T" && $3 !~ /^\./ {print $3}' "$work/nm.txt" | sort -u >"$work/functions.txt"
    awk '$2 == "I" && $3 ~ /^__imp_/ {print substr($3, 7)}' "$work/nm.txt" | sort -u >"$work/pointers.txt"
    diff "$work/exports.txt" "$work/functions.txt" >/dev/null ||
        { diff "$work/exports.txt" "$work/functions.txt"; fail "$library: functions differ from the export table"; }
    diff "$work/exports.txt" "$work/pointers.txt" >/dev/null ||
        { diff "$work/exports.txt" "$work/pointers.txt"; fail "$library: __imp_ pointers differ from the export table"; }
    echo "$library: the $(wc -l <"$work/exports.txt") exports and their __imp_ pointers"
done

# Host programs in a folder of their own with the DLL and the virtual cable's ftd2xx.dll, the
# way a Windows application is laid out.
mkdir "$work/app"
cp "$kit/bin/KestrelLink.dll" "$kit/lib/kestrellink/virtual-cable/ftd2xx.dll" "$work/app/"
for library in libKestrelLink.dll.a KestrelLink.lib; do
    x86_64-w64-mingw32-gcc-posix -std=c11 -Wall -Wextra -Werror -O2 examples/windows_host.c \
        -I "$kit/include" "$kit/lib/$library" -loleaut32 -o "$work/app/windows_host.exe"
    (cd "$work/app" && wine_run windows_host.exe) >"$work/host.txt" 2>&1 ||
        { cat "$work/host.txt"; fail "windows_host.exe linked with $library failed"; }
    expect_output "$work/host.txt" '^87654321 12345677' '^CheckDeviceTalkable: 0'
    echo "windows_host.exe linked with $library: $(grep -c . "$work/host.txt") lines as expected"
done
x86_64-w64-mingw32-g++-posix -std=c++17 -Wall -Wextra -Werror -O2 tests/packaging/decorated_host.cpp \
    -I "$kit/include" "$kit/lib/libKestrelLink.dll.a" -static -o "$work/app/decorated_host.exe"
(cd "$work/app" && wine_run decorated_host.exe) >"$work/decorated.txt" 2>&1 ||
    { cat "$work/decorated.txt"; fail "decorated_host.exe failed"; }
expect_output "$work/decorated.txt" '^CheckDeviceTalkable before open: 10' '^OpenDevice5_B7: 0' \
    '^CheckDeviceTalkable: 0'
echo "decorated_host.exe: the decorated exports through the import library"

# kestrel.exe finds KestrelLink.dll beside it and the virtual cable relative to itself.
wine_run "$kit/bin/kestrel.exe" --version >"$work/version.txt" 2>&1 || { cat "$work/version.txt"; fail "kestrel.exe --version failed"; }
expect_output "$work/version.txt" '^kestrel [0-9.]+' \
    'D2XX library for demo and --virtual: .*kit\\lib\\kestrellink\\virtual-cable\\ftd2xx\.dll \(the virtual cable\)'
wine_run "$kit/bin/kestrel.exe" demo >"$work/demo.txt" 2>&1 || { cat "$work/demo.txt"; fail "kestrel.exe demo failed"; }
expect_output "$work/demo.txt" '^demo: [0-9]+ passed, 0 failed'
echo "kestrel.exe: $(grep -E "^demo: " "$work/demo.txt")"
