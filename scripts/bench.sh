#!/usr/bin/env bash
# Builds the benchmarks in Release (build-bench/) and runs them: the vendor-call economy and the
# modelled wire time of the reference jobs, the virtual cable's simulation speed, and the
# library's host overhead against a null vendor library, how fast Ctrl-C ends a Python serial
# read, kestrel's JTAG player beside OpenOCD and kestrel spi beside flashrom on the model clock
# (bench/jtag_peers.sh, bench/spi_peers.sh). Prints the machine and the tables that
# docs/performance.md publishes. Extra arguments go to both benchmark programs.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh bench
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTREL_BUILD_BENCH=ON \
      -DKESTREL_BUILD_TESTS=OFF -DKESTREL_BUILD_TOOLS=ON > /dev/null
cmake --build build-bench -j2 --target virtual_bench host_bench null_ftd2xx kestrellink \
    ftd2xx_virtual kestrel usb_virtual model_clock_sleep

echo "## Machine"
echo
echo "- processors (nproc): $(nproc)"
echo "- model: $(lscpu | sed -n 's/^Model name:[[:space:]]*//p')"
echo "- commit: $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
echo
echo "## Virtual cable"
./build-bench/bench/virtual_bench --benchmark_counters_tabular=true --benchmark_color=false "$@"
echo
echo "## Host overhead"
./build-bench/bench/host_bench --benchmark_counters_tabular=true --benchmark_color=false "$@"
echo
echo "## Python: Ctrl-C during an endless serial read"
KESTRELLINK_LIBRARY=$PWD/build-bench/lib KESTRELLINK_VIRTUAL_CABLE=$PWD/build-bench/virtual-cable \
    PYTHONPATH=$PWD/python python3 bench/python_interrupt.py
echo
echo "## JTAG files: kestrel and OpenOCD on the model clock (full speed)"
./bench/jtag_peers.sh build-bench
echo
echo "## SPI flash: kestrel and flashrom on the model clock"
./bench/spi_peers.sh build-bench
