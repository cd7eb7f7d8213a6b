#!/usr/bin/env bash
# Installs what is missing, builds everything (same build folder and options as test.sh) and runs
# the kestrel demo on the virtual cable: open, JTAG IDCODEs, SPI flash, UART, DTR, EEPROM.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Only what the demo needs: the tool, the library and the virtual cable it loads.
cmake --build build --target kestrel ftd2xx_virtual
build/tools/kestrel demo "$@"
