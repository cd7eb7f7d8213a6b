#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer
# (clang, Debug, build-sanitize/), plus the fuzz targets, which share that build. Any finding
# fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
CC=clang CXX=clang++ cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DKESTREL_SANITIZE=ON -DKESTREL_FUZZ=ON -DKESTREL_WERROR=ON >/dev/null
cmake --build build-sanitize -j2
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-sanitize --output-on-failure -j2
