#!/usr/bin/env bash
# Installs a Linux build into a temporary prefix and uses it as a host developer would, with
# nothing from the source tree but the consumer project (copied out first):
#   1. examples/consumer through find_package(KestrelLink), its ctest on the virtual cable;
#   2. the same through pkg-config (its Makefile's `make check`);
#   3. the prefix moved elsewhere: kestrel --version and kestrel demo, no environment variable;
#   4. add_subdirectory() of the source tree: only the library and the virtual cable are built
#      with the consumer, whose ctest then runs as in 1.
# Usage: tests/packaging/check_install.sh [BUILD_DIR]   (default: build)
set -euo pipefail
default_build=build
source "$(dirname "$0")/common.sh"

cmake --install "$build" --prefix "$work/prefix" >/dev/null
pc=$(dirname "$(find "$work/prefix" -name kestrellink.pc)")
libdir=$(dirname "$pc")
[ -e "$libdir/libkestrellink.so.1" ] || fail "no libkestrellink.so.1 in $libdir"
[ -e "$libdir/kestrellink/virtual-cable/libftd2xx.so" ] || fail "no virtual cable in its folder"
[ ! -e "$libdir/libftd2xx.so" ] || fail "the virtual cable is in $libdir itself"
# The USB face under both names, the unversioned one leading to the other, and not in $libdir.
usb=$libdir/kestrellink/virtual-usb
[ -f "$usb/libusb-1.0.so.0" ] || fail "no USB face in its folder"
[ "$(readlink "$usb/libusb-1.0.so")" = libusb-1.0.so.0 ] || fail "no libusb-1.0.so beside the face"
[ ! -e "$libdir/libusb-1.0.so" ] || fail "the USB face is in $libdir itself"
usb0=$libdir/kestrellink/virtual-usb0
[ -e "$usb0/libusb-0.1.so.4" ] && [ "$(readlink "$usb0/libusb.so")" = libusb-0.1.so.4 ] ||
    fail "no libusb-0.1 face (libusb-0.1.so.4 and its link libusb.so) in its folder"
[ ! -e "$libdir/libusb-0.1.so.4" ] && [ ! -e "$libdir/libusb.so" ] ||
    fail "the libusb-0.1 face is in $libdir itself"
cp -r examples/consumer "$work/consumer"
unset LD_LIBRARY_PATH VCABLE_SCENARIO KESTREL_VIRTUAL_LIB

echo "== find_package(KestrelLink)"
cmake -S "$work/consumer" -B "$work/with-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
      >/dev/null
cmake --build "$work/with-cmake" >/dev/null
ctest --test-dir "$work/with-cmake" --output-on-failure

echo "== pkg-config"
PKG_CONFIG_PATH="$pc" make -s -C "$work/consumer" check >"$work/make.log" 2>&1 ||
    { cat "$work/make.log"; fail "make check failed"; }
expect_output "$work/make.log" '^87654321 12345677$' '^IDCODE 1234ABCD$' '^chain test passed$'
echo "host and chain_test built with pkg-config ran on the virtual cable"

echo "== the installed kestrel, its prefix moved"
mv "$work/prefix" "$work/moved"
"$work/moved/bin/kestrel" --version >"$work/version.txt"
expect_output "$work/version.txt" "^KestrelLink library: $work/moved/" \
    "^D2XX library for demo and --virtual: $work/moved/.*/kestrellink/virtual-cable/libftd2xx.so \(the virtual cable\)$"
"$work/moved/bin/kestrel" demo >"$work/demo.txt" || { cat "$work/demo.txt"; fail "demo failed"; }
expect_output "$work/demo.txt" '^demo: [0-9]+ passed, 0 failed'
tail -n 1 "$work/demo.txt"

echo "== add_subdirectory() of the source tree"
cmake -S "$work/consumer" -B "$work/with-subdirectory" -G Ninja \
      -DKESTRELLINK_SOURCE_DIR="$PWD" >"$work/subdirectory.log" 2>&1 ||
    { cat "$work/subdirectory.log"; fail "configuring with add_subdirectory failed"; }
ninja -C "$work/with-subdirectory" -t targets all | sed 's/: .*//; s|.*/||' >"$work/targets.txt"
! grep -Eq '^(library_tests|kestrel|host_jtag|tool_tests)$' "$work/targets.txt" ||
    fail "add_subdirectory() builds the tree's tests, tools or examples"
cmake --build "$work/with-subdirectory" >/dev/null
ctest --test-dir "$work/with-subdirectory" --output-on-failure
