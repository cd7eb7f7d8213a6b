#!/usr/bin/env bash
# kestrel spi beside flashrom on the same part, scenario, image and clock: the virtual cable's
# model clock (VCABLE_CLOCK_REPORT's elapsed_ms, full and high speed), kestrel through the vendor
# face, flashrom through the USB face with its sleeps moved onto the model clock
# (model_clock_sleep), as kestrel's waits are there. A W25Q80DV (1 MiB) in its factory state:
# a read of the whole flash and a write of a random 1 MiB image, each tool at its own default
# clock (kestrel's fastest the cable and part allow; flashrom's ft2232_spi divisor 0).
#   bench/spi_peers.sh BUILD     (BUILD with kestrel, the USB face and bench/model_clock_sleep)
. "$(dirname "$0")/peer_setup.sh" "$@"
# flashrom's chip select is TMS, kestrel's GPIOL2; the part and its contents are the same.
flashrom_scenario=$root/examples/peers/flash-W25Q80DV.toml
sed 's/^cs_line = "TMS"/cs_line = "GPIOL2"/' "$flashrom_scenario" > "$work/kestrel.toml"
python3 -c 'import random, sys; random.seed(32); sys.stdout.buffer.write(random.randbytes(1 << 20))' \
    > "$work/image.bin"

# elapsed SPEED: the run's model clock at full_speed or high_speed, in ms.
elapsed() {
    python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))[sys.argv[2]]["elapsed_ms"])' \
        "$work/clock.json" "$1"
}

# kestrel_run VERB ARGS...: a kestrel spi job from the factory state.
kestrel_run() {
    rm -f "$work/state"
    VCABLE_CLOCK_REPORT=$work/clock.json timeout 900 "$kestrel" --virtual "$work/kestrel.toml" \
        --state "$work/state" spi "$@" > "$work/run.log" 2>&1 || { cat "$work/run.log" >&2; exit 1; }
}

# flashrom_run ARGS...: the same for flashrom.
flashrom_run() {
    rm -f "$work/state"
    VCABLE_SCENARIO=$flashrom_scenario VCABLE_STATE=$work/state LD_PRELOAD="$shim" \
        LD_LIBRARY_PATH="$build/virtual-cable/usb" VCABLE_CLOCK_REPORT=$work/clock.json \
        timeout 900 flashrom -p ft2232_spi:type=2232H,port=A "$@" > "$work/run.log" 2>&1 ||
        { cat "$work/run.log" >&2; exit 1; }
}

# row NAME COMMAND...: runs the job and keeps its model clock at both speeds under NAME.
declare -A ms
row() {
    local name=$1
    shift
    "$@"
    ms[$name.full]=$(elapsed full_speed)
    ms[$name.high]=$(elapsed high_speed)
}

row kread kestrel_run read "$work/k.bin"
row fread flashrom_run -r "$work/f.bin"
cmp -s "$work/k.bin" "$work/f.bin" || { echo "the two reads differ" >&2; exit 1; }
row kwrite kestrel_run write "$work/image.bin"
row fwrite flashrom_run -w "$work/image.bin"

echo "| job | kestrel spi | flashrom | ratio | kestrel (high speed) | flashrom (high speed) | ratio |"
echo "|---|---|---|---|---|---|---|"
for job in read write; do
    python3 -c 'import sys
job, kf, ff, kh, fh = sys.argv[1], *map(float, sys.argv[2:])
print("| %s 1 MiB (W25Q80DV) | %.0f ms | %.0f ms | %.2f | %.0f ms | %.0f ms | %.2f |"
      % (job, kf, ff, kf / ff, kh, fh, kh / fh))' "$job" "${ms[k$job.full]}" "${ms[f$job.full]}" \
        "${ms[k$job.high]}" "${ms[f$job.high]}"
done
