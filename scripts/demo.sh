#!/usr/bin/env bash
# Installs what the demo needs, builds the tool, the library and the virtual cable (in test.sh's
# build folder) and runs the kestrel demo on the virtual cable: open, JTAG IDCODEs, SPI flash,
# UART, DTR, EEPROM.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh demo
# A new build folder leaves the tests out (their packages come with `setup.sh test`); test.sh
# turns them on.
tests_flag=()
[ -f build/CMakeCache.txt ] || tests_flag=(-DKESTREL_BUILD_TESTS=OFF)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${tests_flag[@]}"
# Only what the demo needs: the tool, the library and the virtual cable it loads.
cmake --build build --target kestrel ftd2xx_virtual
build/tools/kestrel demo "$@"
