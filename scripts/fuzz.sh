#!/usr/bin/env bash
# Runs the fuzz targets from build-sanitize/ (scripts/sanitize.sh builds them) for a while each:
# ./scripts/fuzz.sh [seconds per target, default 60]. New inputs go to build-sanitize/fuzz-corpus;
# the corpus kept in the tree (fuzz/corpus/<target>) is only read. A crash leaves its input in
# build-sanitize/fuzz-artifacts and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in export_sequence mpsse_engine scenario_reader; do
    work=build-sanitize/fuzz-corpus/$target
    artifacts=build-sanitize/fuzz-artifacts/$target/
    mkdir -p "$work" "$artifacts"
    echo "fuzzing $target for ${seconds}s"
    log=build-sanitize/fuzz-$target.log
    if ! "build-sanitize/fuzz/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=4096 -max_len=4096 -print_final_stats=1 -artifact_prefix="$artifacts" \
        "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
        tail -n 60 "$log"
        exit 1
    fi
    grep -E 'stat::(number_of_executed_units|new_units_added|peak_rss_mb)' "$log"
done
