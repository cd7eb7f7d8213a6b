#!/usr/bin/env bash
# Installs what is missing, builds everything (same build folder and options as test.sh) and runs
# the kestrel demo on the virtual cable: open, JTAG IDCODEs, SPI flash, UART, DTR, EEPROM.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
build/tools/kestrel demo "$@"
