#!/usr/bin/env bash
# Builds everything and runs the test suites against the virtual cable on Linux; then cross-builds
# the library, its tests and the virtual cable (ftd2xx.dll) for Windows and runs them under Wine.
#
#   ./scripts/test.sh               every stage, in the order of STAGES below
#   ./scripts/test.sh python tsan   only the stages named (each builds what it needs)
#   ./scripts/test.sh --list        the stages
#
# The first failing stage ends the run; the timings of the stages run so far are printed either
# way, and the exit status is non-zero when a stage failed. A stage is one function, stage_<name>,
# and one entry in STAGES.
set -uo pipefail
cd "$(dirname "$0")/.."

# name: what its timing line says
STAGES=(
    "linux: Linux build and tests"
    "usb: Linux tests, USB reply delivery"
    "peers: Peers on the USB faces"
    "libftdi: D2XX library over libftdi1"
    "install: Install and consumers"
    "debs: Debian packages"
    "python: Python package tests"
    "windows: Windows cross build and tests under Wine"
    "sanitize: Sanitizer build and tests"
    "tsan: ThreadSanitizer build and tests"
    "fuzz: Fuzz corpora replayed"
)

mkdir -p build
timings=build/stage-timings.log
# Every ctest summary goes to this log too, so the run can end with one line for all suites.
ctest_log=build/suite-summaries.log

# Inside a stage: a timing line for the part that ends here (stages of several parts).
lap_started=$SECONDS
lap() {
    printf '    %-36s %4d s\n' "$1" $((SECONDS - lap_started)) >>"$timings"
    lap_started=$SECONDS
}

linux_build() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_WERROR=ON \
          -DKESTREL_BUILD_TESTS=ON
    cmake --build build -j2
}

stage_linux() {
    linux_build
    lap "Linux build"
    ctest --test-dir build --output-on-failure -j2 | tee -a "$ctest_log"
    # The fault-path test counts the (export, vendor call) cases it ran; show that count here.
    grep -h "fault paths covered" build/Testing/Temporary/LastTest.log || true
    lap "Linux tests"
}

# The same suites with the virtual cable's USB reply delivery: replies come in 62-byte packets
# and when the latency timer runs out, as on the chip. Tests that count polls exactly choose
# immediate delivery themselves and say why.
stage_usb() {
    linux_build
    VCABLE_REPLY_DELIVERY=usb ctest --test-dir build --output-on-failure -j2 | tee -a "$ctest_log"
}

# Debian's OpenOCD, flashrom, openFPGALoader, ftdi_eeprom, pyusb, libftdi1's Python bindings and
# sigrok-cli, unmodified, on the virtual cable's USB face; UrJTAG and iceprog on its libusb-0.1
# face.
stage_peers() {
    linux_build
    tests/peers/run_peers.sh build
}

# The D2XX library over libftdi1, end to end over the USB face: the library, then it, then
# Debian's libftdi1, then the USB face, then the chip model.
stage_libftdi() {
    linux_build
    tests/d2xx-libftdi/run.sh build
}

# A temporary prefix used by examples/consumer through find_package and pkg-config, the moved
# prefix's kestrel, add_subdirectory of the tree.
stage_install() {
    linux_build
    tests/packaging/check_install.sh build | tee -a "$ctest_log"
}

# The packages' file lists, and kestrel demo from the unpacked packages.
stage_debs() {
    linux_build
    tests/packaging/check_debs.sh build
}

# The package installed into a fresh venv of Debian's python3, run against build/.
stage_python() {
    linux_build
    rm -rf build/python-venv
    /usr/bin/python3 -m venv --system-site-packages build/python-venv
    build/python-venv/bin/pip install -q --no-build-isolation --no-index ./python
    KESTRELLINK_LIBRARY=$PWD/build/lib KESTRELLINK_VIRTUAL_CABLE=$PWD/build/virtual-cable \
        build/python-venv/bin/python -m pytest -q python/tests | tee -a "$ctest_log"
}

# The mingw-w64 cross build, its tests under Wine, and the host kit (import libraries, hosts
# linked with them and kestrel.exe under Wine).
stage_windows() {
    # -O2 as on Linux: mingw's GCC 12 reports false array bounds in libstdc++ code inlined at -O3.
    cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
          -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
          "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG" -DKESTREL_BUILD_TOOLS=ON -DKESTREL_WERROR=ON
    cmake --build build-windows -j2
    lap "Windows cross build"
    # A fresh Wine prefix for this run, removed (and its wineserver stopped) when the stage ends.
    # Wine's server socket folder goes to TMPDIR, so that is inside the same folder.
    wine_root=$(mktemp -d)
    export KESTREL_WINEPREFIX=$wine_root/prefix
    export TMPDIR=$wine_root
    trap cleanup_wine EXIT
    WINEDEBUG=-all WINEPREFIX=$KESTREL_WINEPREFIX WINEDLLOVERRIDES="mscoree,mshtml=" \
        wineboot -i >/dev/null 2>&1
    # wineboot returns while the prefix's services still start; a test that starts processes of
    # its own meanwhile (kestrel --cables) could get an internal error from CreateProcess. Wait
    # until the server, done with them, has ended.
    WINEPREFIX=$KESTREL_WINEPREFIX wineserver -w 2>/dev/null || true
    lap "Wine prefix"
    ctest --test-dir build-windows --output-on-failure -j2 | tee -a "$ctest_log"
    lap "Windows tests under Wine"
    tests/packaging/check_windows_kit.sh build-windows
    lap "Windows host kit"
}
cleanup_wine() {
    WINEPREFIX=$KESTREL_WINEPREFIX wineserver -k 2>/dev/null || true
    sleep 1  # let the server remove its socket before the folder goes
    rm -rf "$wine_root"
}

# clang: build-sanitize (shared with the fuzz targets) and build-tsan.
stage_sanitize() {
    ./scripts/sanitize.sh | tee -a "$ctest_log"
}

stage_tsan() {
    ./scripts/tsan.sh
}

# Every fuzz target once over each file of its seed corpora: the inputs that once found faults
# stay fixed. Exploring for new ones is scripts/fuzz.sh's job, at a desk or at night.
stage_fuzz() {
    ./scripts/fuzz.sh --replay
}

suite_totals() {
    awk '/tests passed, [0-9]+ tests? failed out of [0-9]+/ {
             failed += $4; total += $NF
         }
         /^[0-9]+ (passed|failed|errors?)[ ,]/ {  # pytest summary: "3 failed, 80 passed in 5s"
             for (i = 1; i < NF; i++) {
                 if ($(i + 1) ~ /^passed/) total += $i
                 if ($(i + 1) ~ /^(failed|errors?)/) { failed += $i; total += $i }
             }
         }
         END { printf "tests: %d passed, %d failed\n", total - failed, failed }' "$ctest_log"
}

report() {
    printf '\nStage timings:\n'
    cat "$timings"
    printf '  %-38s %4d s\n' "total" $((SECONDS - started))
    suite_totals
}

stage_names=()
for entry in "${STAGES[@]}"; do
    stage_names+=("${entry%%:*}")
done
if [[ ${1:-} == --list ]]; then
    printf '%s\n' "${STAGES[@]}"
    exit 0
fi
selected=("$@")
if [[ ${#selected[@]} -eq 0 ]]; then
    selected=("${stage_names[@]}")
fi
for name in "${selected[@]}"; do
    if ! declare -F "stage_$name" >/dev/null || [[ " ${stage_names[*]} " != *" $name "* ]]; then
        echo "test.sh: no stage '$name'; the stages are: ${stage_names[*]}" >&2
        exit 2
    fi
done

./scripts/setup.sh test || exit 1
: >"$timings"
: >"$ctest_log"
started=$SECONDS
status=0
for name in "${selected[@]}"; do
    for entry in "${STAGES[@]}"; do
        [[ ${entry%%:*} == "$name" ]] && title=${entry#*: }
    done
    stage_started=$SECONDS
    # A subshell with errexit of its own: the first failing command ends the stage.
    (
        set -e
        lap_started=$SECONDS
        "stage_$name"
    )
    status=$?
    outcome=$([[ $status -eq 0 ]] && echo "" || echo "  FAILED")
    printf '  %-38s %4d s%s\n' "$title" $((SECONDS - stage_started)) "$outcome" >>"$timings"
    if [[ $status -ne 0 ]]; then
        break
    fi
done
report
exit "$status"
