#!/usr/bin/env bash
# Runs the fuzz targets from build-sanitize/ (scripts/sanitize.sh builds them) for a while each:
# ./scripts/fuzz.sh [seconds per target, default 60]. New inputs go to build-sanitize/fuzz-corpus;
# the seed corpora kept in the tree (fuzz/corpus/<target>, and the example scenarios) are only
# read. A crash leaves its input in build-sanitize/fuzz-artifacts and fails the run. Each
# target's speed and the coverage it reached are printed. FUZZ_SEED=N fixes libFuzzer's random
# seed, so that a run from the same corpus tries the same inputs; without it every run explores
# afresh.
#
# ./scripts/fuzz.sh --replay runs every target once over each file of its seed corpora and
# nothing more (seconds, not minutes): what CI does on every run (scripts/test.sh fuzz). It
# builds the four targets in build-sanitize/ first when they are missing or stale.
set -euo pipefail
cd "$(dirname "$0")/.."
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# target, seed corpora (comma-separated), libFuzzer's length control (lower: lengths grow
# sooner; the export sequences are worth little when short)
targets=(
    "export_sequence fuzz/corpus/export_sequence 10"
    "mpsse_engine fuzz/corpus/mpsse_engine 100"
    "scenario_reader fuzz/corpus/scenario_reader,examples/scenarios 100"
    "jtag_files examples/svf 100"
)

if [[ ${1:-} == --replay ]]; then
    CC=clang CXX=clang++ cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DKESTREL_SANITIZE=ON -DKESTREL_FUZZ=ON -DKESTREL_WERROR=ON >/dev/null
    fuzzers=()
    for row in "${targets[@]}"; do
        fuzzers+=("${row%% *}_fuzzer")
    done
    cmake --build build-sanitize -j2 --target "${fuzzers[@]}"
    for row in "${targets[@]}"; do
        read -r target seeds _ <<<"$row"
        IFS=, read -ra seed_dirs <<<"$seeds"
        mapfile -t inputs < <(find "${seed_dirs[@]}" -type f | sort)
        log=build-sanitize/fuzz-replay-$target.log
        # Given files rather than folders, libFuzzer runs each once and stops.
        if ! "build-sanitize/fuzz/${target}_fuzzer" -timeout=10 -rss_limit_mb=4096 \
            "${inputs[@]}" >"$log" 2>&1; then
            tail -n 60 "$log"
            echo "replaying the $target corpus failed (log: $log)"
            exit 1
        fi
        printf 'replayed %-16s %4d inputs\n' "$target" "${#inputs[@]}"
    done
    exit 0
fi

seconds=${1:-60}
seed_option=${FUZZ_SEED:+-seed=$FUZZ_SEED}
for row in "${targets[@]}"; do
    read -r target seeds len_control <<<"$row"
    IFS=, read -ra seed_dirs <<<"$seeds"
    work=build-sanitize/fuzz-corpus/$target
    artifacts=build-sanitize/fuzz-artifacts/$target/
    mkdir -p "$work" "$artifacts"
    log=build-sanitize/fuzz-$target.log
    if ! "build-sanitize/fuzz/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 ${seed_option} \
        -rss_limit_mb=4096 -max_len=4096 -len_control="$len_control" -print_final_stats=1 \
        -artifact_prefix="$artifacts" "$work" "${seed_dirs[@]}" >"$log" 2>&1; then
        tail -n 60 "$log"
        exit 1
    fi
    # "DONE cov: <edges> ft: <features> ..." and the final statistics
    coverage=$(grep -o 'DONE .*cov: [0-9]* ft: [0-9]*' "$log" | sed 's/.*cov/cov/' || true)
    speed=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
    printf 'fuzzed %-16s %4ss: %6s exec/s, %8s runs, %s\n' "$target" "$seconds" "$speed" "$runs" \
        "$coverage"
done
