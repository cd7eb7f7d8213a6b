#!/usr/bin/env bash
# Builds the Debian packages of a Linux build with CPack, checks what each one holds, unpacks them
# all into an empty root (as installing them would, without touching this machine's /usr) and
# runs that root's kestrel: --version and the demo, with no environment variable, and the demo
# through the packaged D2XX library over libftdi1.
# Usage: tests/packaging/check_debs.sh [BUILD_DIR]   (default: build)
set -euo pipefail
default_build=build
source "$(dirname "$0")/common.sh"

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/debs" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack failed"; }

# Each package: the files it must hold (extended regexes on its file list) and what must not be
# in it. The virtual cable lives in its private folder only.
check_package() {  # check_package NAME FORBIDDEN REQUIRED...
    local name=$1 forbidden=$2; shift 2
    local deb
    deb=$(ls "$work"/debs/"${name}"_*.deb 2>/dev/null) || fail "no package $name"
    dpkg-deb -c "$deb" | awk '{print substr($6, 2)}' >"$work/$name.files"
    for pattern in "$@"; do
        grep -Eq "^${pattern}$" "$work/$name.files" || { cat "$work/$name.files"; fail "$name lacks $pattern"; }
    done
    if grep -Eq "$forbidden" "$work/$name.files"; then
        grep -E "$forbidden" "$work/$name.files"
        fail "$name holds files it must not"
    fi
    printf '%-28s %3d files  %s\n' "$name" "$(grep -vc '/$' "$work/$name.files")" \
        "$(dpkg-deb -f "$deb" Depends)"
}
# Libraries live in the multiarch folder, never in /usr/lib itself.
lib='/usr/lib/[a-z0-9_]+-linux-gnu[a-z0-9_]*'
check_package libkestrellink1 '\.h$|/bin/|libftd2xx|^/usr/lib/lib' \
    "$lib/libkestrellink\.so\.1" "$lib/libkestrellink\.so\.1\.[0-9.]+" "$lib/libkestrelengine\.so\.1" \
    /usr/lib/udev/rules\.d/60-kestrellink\.rules
check_package kestrellink-virtual-cable "\.h$|/bin/|^$lib/libftd2xx|^$lib/libusb|libkestrellink" \
    "$lib/kestrellink/virtual-cable/libftd2xx\.so" "$lib/kestrellink/virtual-usb/libusb-1\.0\.so\.0" \
    "$lib/kestrellink/virtual-usb/libusb-1\.0\.so" \
    "$lib/kestrellink/virtual-usb0/libusb-0\.1\.so\.4" "$lib/kestrellink/virtual-usb0/libusb\.so"
check_package libkestrellink-dev '/bin/|\.so\.|libftd2xx' \
    /usr/include/kestrellink\.h /usr/include/kestrellink/vcable\.h "$lib/libkestrellink\.so" \
    /usr/include/kestrellink/kestrel_engine\.h "$lib/libkestrelengine\.so" \
    "$lib/cmake/KestrelLink/KestrelLinkConfig\.cmake" \
    "$lib/cmake/KestrelLink/KestrelLinkConfigVersion\.cmake" \
    "$lib/pkgconfig/kestrellink\.pc" "$lib/pkgconfig/kestrellink-virtual-cable\.pc" \
    '/usr/share/doc/.*/examples/consumer/CMakeLists\.txt'
check_package kestrel '\.h$|\.so' /usr/bin/kestrel '/usr/share/kestrellink/scenarios/default\.toml' \
    '/usr/share/doc/.*/kestrel\.md'

# The library over libftdi1, where the build found libftdi1: its own folder only, recommended by
# the library's package.
libftdi_deb=$(ls "$work"/debs/kestrellink-d2xx-libftdi_*.deb 2>/dev/null || true)
if [ -n "$libftdi_deb" ]; then
    check_package kestrellink-d2xx-libftdi "\.h$|/bin/|^$lib/libftd2xx|libkestrellink|^/usr/lib/lib" \
        "$lib/kestrellink/d2xx-libftdi/libftd2xx\.so"
    recommends=$(dpkg-deb -f "$(ls "$work"/debs/libkestrellink1_*.deb)" Recommends)
    [[ $recommends == *kestrellink-d2xx-libftdi* ]] ||
        fail "libkestrellink1 does not recommend kestrellink-d2xx-libftdi ($recommends)"
fi

mkdir "$work/root"
for deb in "$work"/debs/*.deb; do dpkg-deb -x "$deb" "$work/root"; done
unset LD_LIBRARY_PATH VCABLE_SCENARIO KESTREL_VIRTUAL_LIB
"$work/root/usr/bin/kestrel" --version | sed -n 1p
"$work/root/usr/bin/kestrel" demo >"$work/demo.txt" || { cat "$work/demo.txt"; fail "demo failed"; }
grep -Eq '^demo: [0-9]+ passed, 0 failed' "$work/demo.txt" || { cat "$work/demo.txt"; fail "demo failed"; }
echo "unpacked packages: $(tail -n 1 "$work/demo.txt")"

if [ -n "$libftdi_deb" ]; then
    # The unpacked tool finds the library over libftdi1 in its folder and, with the virtual
    # cable's USB face on the loader's path, reaches the cable through it.
    root_libdir=$(dirname "$(find "$work/root/usr/lib" -name libkestrellink.so.1 | head -n 1)")
    KESTREL_D2XX=libftdi "$work/root/usr/bin/kestrel" --version |
        grep -q "^D2XX library otherwise: $root_libdir/kestrellink/d2xx-libftdi/libftd2xx.so " ||
        fail "KESTREL_D2XX=libftdi does not find the packaged library"
    if [ -e "$root_libdir/kestrellink/virtual-usb/libusb-1.0.so.0" ]; then
        LD_LIBRARY_PATH="$root_libdir/kestrellink/virtual-usb" "$work/root/usr/bin/kestrel" \
            --d2xx libftdi demo --hardware >"$work/libftdi.txt" ||
            { cat "$work/libftdi.txt"; fail "demo over libftdi1 failed"; }
        echo "unpacked packages over libftdi1: $(tail -n 1 "$work/libftdi.txt")"
    fi
fi
