#!/usr/bin/env bash
# Builds everything and runs the test suites against the virtual cable; then cross-compiles the
# Windows DLL to prove the same sources build there.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
ctest --test-dir build --output-on-failure -j2
# The same suites under the sanitizers, then a short run of each fuzz target.
./scripts/sanitize.sh
./scripts/fuzz.sh 60
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
      -DCMAKE_BUILD_TYPE=Release -DKESTREL_BUILD_TESTS=OFF -DKESTREL_BUILD_TOOLS=OFF
cmake --build build-windows --target kestrellink_objects
