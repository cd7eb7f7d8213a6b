#!/usr/bin/env bash
# Installs the build tools and libraries the project needs (Debian packages), when missing.
set -euo pipefail
# The Windows cross build: mingw-w64, GoogleTest's sources to build it with, and 64-bit Wine to
# run the result (no i386 architecture: KestrelLink is 64-bit only). python3 runs the export checks;
# venv, pip, setuptools, wheel and pytest install and test the Python package without an index.
packages=(cmake ninja-build g++ clang libgtest-dev libgmock-dev libbenchmark-dev
          libcli11-dev libtomlplusplus-dev nlohmann-json3-dev g++-mingw-w64-x86-64-posix
          googletest wine wine64 python3 python3-venv python3-pip python3-setuptools
          python3-wheel python3-pytest)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
# The sanitizer and libFuzzer runtimes of the installed clang (scripts/sanitize.sh, fuzz.sh).
clang_major=$(clang -dumpversion | cut -d. -f1)
runtime=libclang-rt-${clang_major}-dev
if ! dpkg-query -W -f='${Status}' "$runtime" 2>/dev/null | grep -q "install ok installed"; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$runtime"
fi
