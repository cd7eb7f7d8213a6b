#!/usr/bin/env bash
# Runs Debian's own packages, unmodified, on the virtual cable's USB face (libusb-1.0.so.0 in
# BUILD/virtual-cable/usb): pyusb, ftdi_eeprom, lsusb, OpenOCD, flashrom and openFPGALoader, with
# the configurations and scenarios of examples/peers/. Each run must end as expected, within its
# time limit (a hang is a failure), and leave no model error behind. Everything runs twice: with
# replies whole and at once, and with the chip's USB packets and latency timer.
#   tests/peers/run_peers.sh BUILD
set -uo pipefail
build=$(cd "${1:?usage: run_peers.sh BUILD}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
peers=$root/examples/peers
svf=$root/examples/svf
d2xx=$build/virtual-cable/libftd2xx.so
python=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LD_LIBRARY_PATH=$build/virtual-cable/usb
export VCABLE_MODEL_ERRORS=$work/model-errors.txt
unset VCABLE_SCENARIO VCABLE_STATE VCABLE_CLOCK_REPORT
failures=0
runs=0

fail() {
    echo "FAIL  $1: $2"
    failures=$((failures + 1))
}

# run NAME ok|fail COMMAND...: runs the command in the work folder; it must exit 0 (ok) or not
# (fail) but not time out, and cause no model error. Its output is in $work/NAME.log.
run() {
    local name=$delivery-$1 expect=$2 rc
    shift 2
    runs=$((runs + 1))
    rm -f "$VCABLE_MODEL_ERRORS"
    (cd "$work" && timeout 300 "$@") > "$work/$name.log" 2>&1
    rc=$?
    if [ $rc -eq 124 ]; then
        fail "$name" "did not end within 300 s"
    elif [ "$expect" = ok ] && [ $rc -ne 0 ]; then
        fail "$name" "exit code $rc"; tail -5 "$work/$name.log"
    elif [ "$expect" = fail ] && [ $rc -eq 0 ]; then
        fail "$name" "succeeded, expected a failure"
    elif [ -s "$VCABLE_MODEL_ERRORS" ]; then
        fail "$name" "model errors:"; sort "$VCABLE_MODEL_ERRORS" | uniq -c | head -5
    else
        echo "ok    $name"
    fi
}

# expect NAME TEXT...: the run's output holds each text (extended regular expressions).
expect() {
    local name=$delivery-$1 text
    shift
    for text in "$@"; do
        grep -Eq -- "$text" "$work/$name.log" || fail "$name" "no '$text' in its output"
    done
}

peers() {
    rm -f "$work"/*.state
    # --- pyusb: listing, descriptors, strings, an MPSSE loopback by hand ---
    run pyusb ok $python "$peers/pyusb_mpsse.py"
    expect pyusb "0403:6010 bcdDevice 0500" "product 'ZV7300LNK' serial 'ZV000001'" "loopback .*OK"

    # --- ftdi_eeprom: read the default cable's EEPROM, flash a new one, list it on the other face
    run eeprom-read ok ftdi_eeprom --verbose --read-eeprom "$peers/ftdi_eeprom-read.conf"
    expect eeprom-read "VID: +0x0403" "PID: +0x6010" "Release: +0x0500" "Manufacturer: Zelvorinex" \
        "Product: +ZV7300LNK" "Serial: +ZV000001"
    export VCABLE_STATE=$work/eeprom.state
    run eeprom-flash ok ftdi_eeprom --flash-eeprom "$peers/ftdi_eeprom-flash.conf"
    run eeprom-d2xx ok $python "$root/tests/peers/d2xx_face.py" "$d2xx" list
    expect eeprom-d2xx "PeerCable A\|PC1234A\|0403:6010" "PeerCable B\|PC1234B"
    run eeprom-lsusb ok lsusb -v -d 0403:6010
    expect eeprom-lsusb "MaxPower +100mA" "iInterface +2 PeerCable"
    unset VCABLE_STATE
    VCABLE_SCENARIO=$peers/programmed-pair.toml run eeprom-pair ok \
        ftdi_eeprom --verbose --read-eeprom "$peers/ftdi_eeprom-pair.conf"
    expect eeprom-pair "VID: +0x1209" "PID: +0x7301" "Product: +PairCable"

    # --- OpenOCD: auto-probing, irscan/drscan, SVF with TDO checks, reply delivery, unplug ---
    ocd=(openocd -f "$peers/openocd-cable.cfg")
    run openocd-probe ok "${ocd[@]}" -c "init; scan_chain; shutdown"
    expect openocd-probe "found: 0x87654321" "found: 0x12345677"
    ocd+=(-f "$peers/openocd-default-chain.cfg")
    run openocd-scan ok "${ocd[@]}" -c "init; irscan dev1.tap 0xC2; drscan dev1.tap 32 0xC0FFEE42" \
        -c "echo \"user=[drscan dev1.tap 32 0]\"; shutdown"
    expect openocd-scan "user=c0ffee42"
    run openocd-svf ok "${ocd[@]}" -c "init; svf $svf/user-register.svf; shutdown"
    VCABLE_SCENARIO=$root/examples/scenarios/jtag-chain.toml run openocd-svf-chain ok \
        openocd -f "$peers/openocd-cable.cfg" -c "init; svf $svf/idcode-chain.svf; shutdown"
    # OpenOCD 0.12 runs only the first SVF command of a line that holds several
    # (docs/virtual-cable.md), so the memory file's "SDR ...; RUNTEST 100 TCK;" lines are split.
    sed 's/; RUNTEST/;\nRUNTEST/' "$svf/memory-program.svf" > "$work/memory-program.svf"
    VCABLE_SCENARIO=$root/examples/scenarios/jtag-memory.toml run openocd-svf-memory ok \
        openocd -f "$peers/openocd-cable.cfg" -c "init; svf -quiet $work/memory-program.svf" \
        -c shutdown
    run openocd-svf-mismatch fail "${ocd[@]}" -c "init; svf $svf/mismatch.svf; shutdown"
    expect openocd-svf-mismatch "READ = 0x1234567787654321" "WANT = 0x1234567787654320"
    VCABLE_CLOCK_REPORT=$work/clock.json VCABLE_TRACE=$work/trace.txt \
        VCABLE_CALL_LOG=$work/calls.txt run openocd-clock ok \
        "${ocd[@]}" -c "init; scan_chain; svf $svf/user-register.svf; shutdown"
    $python -c 'import json, sys; r = json.load(open(sys.argv[1])); assert all(
        r[s]["tck_cycles"] > 0 and r[s]["elapsed_ms"] > 0 for s in ("full_speed", "high_speed"))' \
    "$work/clock.json" || fail "$delivery-openocd-clock" "no clock report"
    grep -q "^cable 0: 0x86 set clock divisor" "$work/trace.txt" &&
        grep -q "^FT_SetBitMode(0xB, 0x2) = 0" "$work/calls.txt" ||
        fail "$delivery-openocd-clock" "no trace or call log"
    VCABLE_SCENARIO=$peers/unplug.toml run openocd-unplug fail \
        "${ocd[@]}" -c "init; svf $svf/user-register.svf; shutdown"
    expect openocd-unplug "LIBUSB_ERROR_NO_DEVICE"

    # --- flashrom: probe, read, erase, write and verify a random image; the vendor face agrees ---
    export VCABLE_SCENARIO=$peers/flashrom.toml VCABLE_STATE=$work/flash.state
    head -c 1048576 /dev/urandom > "$work/image.bin"
    fr=(flashrom -p ft2232_spi:type=2232H,port=A -c W25Q80.V)
    run flashrom-probe ok "${fr[@]}"
    expect flashrom-probe 'Found Winbond flash chip "W25Q80.V"'
    run flashrom-read ok "${fr[@]}" -r "$work/before.bin"
    run flashrom-erase ok "${fr[@]}" -E
    run flashrom-write ok "${fr[@]}" -w "$work/image.bin"
    run flashrom-verify ok "${fr[@]}" -v "$work/image.bin"
    run flashrom-read-back ok "${fr[@]}" -r "$work/after.bin"
    cmp -s "$work/image.bin" "$work/after.bin" || fail "$delivery-flashrom" "read back differs"
    run flashrom-d2xx ok $python "$root/tests/peers/d2xx_face.py" \
        "$d2xx" flash "$work/d2xx.bin"
    cmp -s "$work/image.bin" "$work/d2xx.bin" || fail "$delivery-flashrom" "other face differs"
    unset VCABLE_SCENARIO VCABLE_STATE

    # --- openFPGALoader: the chain of a scenario with real FPGA IDCODEs ---
    VCABLE_SCENARIO=$peers/fpga-chain.toml run openfpgaloader-detect ok \
        openFPGALoader --cable ft2232 --detect
    expect openfpgaloader-detect "idcode 0x362d093" "model +xc7a35" "model +LFE5UM-25"
}

for delivery in immediate usb; do
    export VCABLE_REPLY_DELIVERY=$delivery
    peers
done
echo "peers: $((runs)) runs, $failures failures"
[ $failures -eq 0 ]
