#!/usr/bin/env bash
# The library's and the virtual cable's unit tests built with ThreadSanitizer (clang, build-tsan/):
# among them the two-thread test of the library and the virtual cable's own thread test. Any
# report fails the run. Only the two test programs are built, so the stage stays short.
set -euo pipefail
cd "$(dirname "$0")/.."
CC=clang CXX=clang++ cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKESTREL_TSAN=ON -DKESTREL_BUILD_TOOLS=OFF -DKESTREL_WERROR=ON >/dev/null
cmake --build build-tsan -j2 --target virtual_tests library_tests
export TSAN_OPTIONS=halt_on_error=1:abort_on_error=1:second_deadlock_stack=1
for suite in virtual_tests library_tests; do
    echo "ThreadSanitizer: $suite"
    "build-tsan/tests/$suite" --gtest_brief=1
done
