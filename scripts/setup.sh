#!/usr/bin/env bash
# Installs the Debian packages a command needs, when missing:
#   ./scripts/setup.sh demo    what demo.sh needs: the compiler, CMake, Ninja, CLI11 and toml++
#   ./scripts/setup.sh bench   demo's, Google Benchmark, and OpenOCD to compare the JTAG player with
#   ./scripts/setup.sh test    (the default) everything test.sh runs, demo's included
set -euo pipefail
purpose=${1:-test}

# --- demo: the library, the virtual cable (toml++ reads its scenario files) and kestrel ---
demo_packages=(g++ cmake ninja-build libcli11-dev libtomlplusplus-dev)

# --- bench ---
bench_packages=(libbenchmark-dev openocd)

# --- test: the Linux suites; python3 runs the export checks ---
test_packages=(libgtest-dev libgmock-dev python3)
# --- test: the Windows cross build, GoogleTest's sources to build it with, and 64-bit Wine to
# run the result (no i386 architecture: KestrelLink is 64-bit only) ---
test_packages+=(g++-mingw-w64-x86-64-posix googletest wine wine64)
# --- test: sanitizers and fuzzing (clang; its runtimes below) ---
test_packages+=(clang)
# --- test: the Python package, installed and tested without an index ---
test_packages+=(python3-venv python3-pip python3-setuptools python3-wheel python3-pytest)
# --- test: the tool's --json results validated against docs/kestrel-result.schema.json ---
test_packages+=(python3-jsonschema)
# --- test: the packaging checks: pkg-config and make for the consumer, dpkg-dev and file for
# the packages' dependencies, llvm for llvm-dlltool (the import library for MSVC hosts) ---
test_packages+=(pkg-config make dpkg-dev file llvm)
# --- test: the peers that run unmodified on the virtual cable's USB face (tests/peers/) ---
test_packages+=(openocd flashrom openfpgaloader ftdi-eeprom python3-usb python3-ftdi1 sigrok-cli
    usbutils)
# --- test: the peers on the libusb-0.1 face (UrJTAG, iceprog), and the system's libusb-0.1 and its
# header, which the face's exports and declarations are checked against ---
test_packages+=(urjtag fpga-icestorm libusb-0.1-4 libusb-dev)
# --- test: the D2XX library over libftdi1 (d2xx-libftdi/, tests/d2xx-libftdi/run.sh) ---
test_packages+=(libftdi1-dev libusb-1.0-0-dev)

case "$purpose" in
    demo) packages=("${demo_packages[@]}") ;;
    bench) packages=("${demo_packages[@]}" "${bench_packages[@]}") ;;
    test) packages=("${demo_packages[@]}" "${test_packages[@]}") ;;
    *)
        echo "usage: $0 [demo|bench|test]" >&2
        exit 2
        ;;
esac

install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}
install_missing "${packages[@]}"

# The sanitizer and libFuzzer runtimes of the installed clang (scripts/sanitize.sh, fuzz.sh).
if [ "$purpose" = test ]; then
    install_missing "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"
fi
