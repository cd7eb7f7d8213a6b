#!/usr/bin/env bash
# Runs Debian's own packages, unmodified, on the virtual cable's USB faces, with the configurations
# and scenarios of examples/peers/: on libusb-1.0.so.0 (BUILD/virtual-cable/usb) pyusb, libftdi1's
# Python bindings, sigrok-cli, ftdi_eeprom, lsusb, OpenOCD, flashrom and openFPGALoader; on
# libusb-0.1.so.4 (BUILD/virtual-cable/usb0) UrJTAG, iceprog and pyusb's libusb-0.1 backend. Each
# run must end as expected, within its time limit (a hang is a failure), and leave no model error
# behind but the peer's own mistakes that the chip answers as it would. Everything runs twice: with
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
usb0=$build/virtual-cable/usb0
export VCABLE_MODEL_ERRORS=$work/model-errors.txt
unset VCABLE_SCENARIO VCABLE_STATE VCABLE_CLOCK_REPORT
failures=0
runs=0

fail() {
    echo "FAIL  $1: $2"
    failures=$((failures + 1))
}

# run NAME ok|fail COMMAND...: runs the command in the work folder; it must exit 0 (ok) or not
# (fail) but not time out, and cause no model error; with peer_errors set (an extended regular
# expression), only model errors it matches, and at least one. Its output is in $work/NAME.log.
run() {
    local name=$delivery-$1 expect=$2 allowed=${peer_errors:-^$} rc
    shift 2
    runs=$((runs + 1))
    rm -f "$VCABLE_MODEL_ERRORS"
    (cd "$work" && timeout 300 "$@") < /dev/null > "$work/$name.log" 2>&1
    rc=$?
    if [ $rc -eq 124 ]; then
        fail "$name" "did not end within 300 s"
    elif [ "$expect" = ok ] && [ $rc -ne 0 ]; then
        fail "$name" "exit code $rc"; tail -5 "$work/$name.log"
    elif [ "$expect" = fail ] && [ $rc -eq 0 ]; then
        fail "$name" "succeeded, expected a failure"
    elif grep -Evq -- "$allowed" "$VCABLE_MODEL_ERRORS" 2>/dev/null; then
        fail "$name" "model errors:"; grep -Ev -- "$allowed" "$VCABLE_MODEL_ERRORS" | sort | uniq -c | head -5
    elif [ -n "${peer_errors:-}" ] && ! grep -Eq -- "$allowed" "$VCABLE_MODEL_ERRORS" 2>/dev/null; then
        fail "$name" "no model error '$allowed'"
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

# flashrom_part PART CHIP found|several SIZE REGION RANGE ok|fail: flashrom finds the part by its ID alone
# (found), or lists its chip among several definitions with that ID (several: the runs after name
# it with -c); reads it whole, writes a random image to REGION (first:last, hex; flashrom's
# layout: its own waits make a whole-chip write minutes long) and verifies it, and the region
# reads back as written (fail: the write must fail, see below). Then, with BP1 set in status register 1, --wp-status reports RANGE, the
# range the part's block-protect table gives, or (RANGE -) says this flashrom has no write
# protection for the chip.
flashrom_part() {
    local part=$1 chip=$2 probe=$3 size=$4 region=$5 range=$6 write=$7 name=flashrom-$1
    local fr=(flashrom -p ft2232_spi:type=2232H,port=A) first=$((0x${5%:*})) last=$((0x${5#*:}))
    local quoted
    quoted=\"$(printf '%s' "$chip" | sed 's/[][().*+?^$|\\/]/\\&/g')\"
    export VCABLE_SCENARIO=$peers/flash-$part.toml VCABLE_STATE=$work/$part.state
    if [ "$probe" = found ]; then
        run "$name-probe" ok "${fr[@]}"
        expect "$name-probe" "Found .* flash chip $quoted"
    else
        run "$name-probe" fail "${fr[@]}"
        expect "$name-probe" "Multiple flash chip definitions match.*$quoted"
        fr+=(-c "$chip")
    fi
    head -c "$size" /dev/urandom > "$work/$part.bin"
    echo "$region image" > "$work/$part.layout"
    local layout=(-l "$work/$part.layout" -i image)
    run "$name-read" ok "${fr[@]}" -r "$work/$part-before.bin"
    [ "$(stat -c %s "$work/$part-before.bin" 2>/dev/null)" = "$size" ] ||
        fail "$delivery-$name" "read of the wrong size"
    if [ "$write" = ok ]; then
        run "$name-write" ok "${fr[@]}" "${layout[@]}" -w "$work/$part.bin"
        run "$name-verify" ok "${fr[@]}" "${layout[@]}" -v "$work/$part.bin"
        run "$name-read-back" ok "${fr[@]}" -r "$work/$part-after.bin"
        cmp -s -i "$first" -n $((last + 1 - first)) "$work/$part.bin" "$work/$part-after.bin" ||
            fail "$delivery-$name" "the region reads back otherwise"
        cmp -s -n "$first" "$work/$part-before.bin" "$work/$part-after.bin" ||
            fail "$delivery-$name" "the write changed what lies before the region"
    else
        # flashrom's definition of this ID has 4-byte opcodes the part lacks (docs/virtual-cable.md):
        # the part ignores them, so the read gives the idle line and the write does not verify.
        cmp -s "$work/$part-before.bin" <(head -c "$size" /dev/zero | tr '\0' '\377') ||
            fail "$delivery-$name" "the read was not the idle line"
        run "$name-write" fail "${fr[@]}" "${layout[@]}" -w "$work/$part.bin"
        expect "$name-write" "Verifying flash... FAILED"
    fi
    unset VCABLE_STATE
    { cat "$peers/flash-$part.toml"; echo "status = [0x08]"; } > "$work/$part-protected.toml"
    export VCABLE_SCENARIO=$work/$part-protected.toml
    if [ "$range" = - ]; then
        run "$name-wp" fail "${fr[@]}" --wp-status
        expect "$name-wp" "WP operations are not implemented for this chip"
    else
        run "$name-wp" ok "${fr[@]}" --wp-status
        expect "$name-wp" "Protection range: ${range/,/ }"
    fi
    unset VCABLE_SCENARIO
}

peers() {
    rm -f "$work"/*.state
    # --- pyusb: listing, descriptors, strings, an MPSSE loopback by hand ---
    run pyusb ok $python "$peers/pyusb_mpsse.py"
    expect pyusb "0403:6010 bcdDevice 0500" "product 'ZV7300LNK' serial 'ZV000001'" "loopback .*OK"

    # --- libftdi1's Python bindings: EEPROM, pins, and the IDCODEs of two chains in MPSSE mode ---
    run ftdi1 ok $python "$peers/ftdi1_jtag.py" 87654321 12345677
    expect ftdi1 "EEPROM: 0403:6010 \['Zelvorinex', 'ZV7300LNK', 'ZV000001'\]" "pins: ff"
    VCABLE_SCENARIO=$peers/fpga-chain.toml run ftdi1-fpga ok \
        $python "$peers/ftdi1_jtag.py" 41111043 0362d093

    # --- libftdi1's Python bindings: latency 1 ms, bit-bang IDCODEs, pins, samples; the waveform ---
    VCABLE_VCD=$work/bitbang.vcd run libftdi-bitbang ok $python "$peers/libftdi_bitbang.py"
    expect libftdi-bitbang "IDCODEs 0x87654321 0x12345677 by synchronous bit-bang: OK" \
        "1000 samples .*: OK"
    grep -q '^1!$' "$work/bitbang.vcd" && grep -q '^0!$' "$work/bitbang.vcd" ||
        fail "$delivery-libftdi-bitbang" "no TCK in the waveform"
    # A mode the model lacks: the read fails at once, with model errors that say so.
    rm -f "$VCABLE_MODEL_ERRORS"
    timeout 60 $python "$peers/libftdi_bitbang.py" --unmodelled > "$work/unmodelled.log" 2>&1 &&
        grep -q "is not modelled" "$VCABLE_MODEL_ERRORS" ||
        fail "$delivery-libftdi-unmodelled" "the read did not fail with a model error"
    runs=$((runs + 1))

    # --- sigrok's ftdi-la: a logic-analyser capture by asynchronous bit-bang on channel A, with
    # GPIOL0 (ADBUS4) held low by the scenario ---
    VCABLE_SCENARIO=$root/examples/scenarios/gpio.toml run sigrok-ftdi-la ok \
        sigrok-cli -d ftdi-la --config samplerate=100k --samples 2000 -O hex
    expect sigrok-ftdi-la "ADBUS0:ff ff ff" "ADBUS4:00 00 00"

    # --- ftdi_eeprom: read the default cable's EEPROM, flash a new one, list it on the other face
    run eeprom-read ok ftdi_eeprom --verbose --read-eeprom "$peers/ftdi_eeprom-read.conf"
    expect eeprom-read "VID: +0x0403" "PID: +0x6010" "Release: +0x0500" "Manufacturer: Zelvorinex" \
        "Product: +ZV7300LNK" "Serial: +ZV000001"
    export VCABLE_STATE=$work/eeprom.state
    run eeprom-flash ok ftdi_eeprom --flash-eeprom "$peers/ftdi_eeprom-flash.conf"
    run eeprom-d2xx ok $python "$root/tests/peers/d2xx_face.py" "$d2xx" list
    expect eeprom-d2xx "PeerCable A\|PC1234A\|0403:6010" "PeerCable B\|PC1234B"
    run eeprom-lsusb ok lsusb -v -d 0403:6010
    expect eeprom-lsusb "bmAttributes +0xc0" "Self Powered" "MaxPower +100mA" \
        "iInterface +2 PeerCable"
    unset VCABLE_STATE
    VCABLE_SCENARIO=$peers/programmed-pair.toml run eeprom-pair ok \
        ftdi_eeprom --verbose --read-eeprom "$peers/ftdi_eeprom-pair.conf"
    expect eeprom-pair "VID: +0x1209" "PID: +0x7301" "Product: +PairCable"
    # The fifth word read fails: ftdi_eeprom reports the failed read (and still exits 0); the call
    # log shows the reads as FT_EE_Read, the failed one by its fault rule.
    VCABLE_SCENARIO=$peers/eeprom-fault.toml VCABLE_CALL_LOG=$work/eeprom-calls.txt \
        run eeprom-fault ok ftdi_eeprom --read-eeprom "$peers/ftdi_eeprom-read.conf"
    expect eeprom-fault "FTDI read eeprom: -1" "EEPROM size: -1"
    grep -q "^FT_EE_Read(0x3) = 0, 2 bytes$" "$work/eeprom-calls.txt" &&
        grep -q "^FT_EE_Read(0x4) = 11, 0 bytes (fault rule)$" "$work/eeprom-calls.txt" ||
        fail "$delivery-eeprom-fault" "no EEPROM reads in the call log"

    # --- OpenOCD: auto-probing, irscan/drscan, SVF with TDO checks, reply delivery, unplug ---
    ocd=(openocd -f "$peers/openocd-cable.cfg")
    run openocd-probe ok "${ocd[@]}" -c "init; scan_chain; shutdown"
    expect openocd-probe "found: 0x87654321" "found: 0x12345677"
    # TDO sampled on the falling edge: every TMS command carries the read-edge bit (0x4F, 0x6F).
    run openocd-falling ok "${ocd[@]}" -c "ftdi tdo_sample_edge falling" \
        -c "init; scan_chain; shutdown"
    expect openocd-falling "found: 0x87654321" "found: 0x12345677"
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
        VCABLE_CALL_LOG=$work/calls.txt VCABLE_VCD=$work/wave.vcd run openocd-clock ok \
        "${ocd[@]}" -c "init; scan_chain; svf $svf/user-register.svf; shutdown"
    $python -c 'import json, sys; r = json.load(open(sys.argv[1])); assert all(
        r[s]["tck_cycles"] > 0 and r[s]["elapsed_ms"] > 0 for s in ("full_speed", "high_speed"))' \
    "$work/clock.json" || fail "$delivery-openocd-clock" "no clock report"
    grep -q "^cable 0: 0x86 set clock divisor" "$work/trace.txt" &&
        grep -q "^FT_SetBitMode(0xB, 0x2) = 0" "$work/calls.txt" ||
        fail "$delivery-openocd-clock" "no trace or call log"
    # The waveform: TCK declared, and it moved.
    grep -q '^\$var wire 1 ! TCK \$end$' "$work/wave.vcd" && grep -q '^1!$' "$work/wave.vcd" &&
        grep -q '^0!$' "$work/wave.vcd" || fail "$delivery-openocd-clock" "no waveform"
    VCABLE_SCENARIO=$peers/unplug.toml run openocd-unplug fail \
        "${ocd[@]}" -c "init; svf $svf/user-register.svf; shutdown"
    expect openocd-unplug "LIBUSB_ERROR_NO_DEVICE"

    # --- flashrom: probe, read, erase, write and verify a random image; the vendor face agrees ---
    export VCABLE_SCENARIO=$peers/flashrom.toml VCABLE_STATE=$work/flash.state
    head -c 1048576 /dev/urandom > "$work/image.bin"
    fr=(flashrom -p ft2232_spi:type=2232H,port=A)
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

    # --- flashrom on each flash part (examples/peers/flash-PART.toml) ---
    # Parts over 16 MiB are written across the 16 MiB line.
    while read -r part chip probe size region range write; do
        flashrom_part "$part" "$chip" "$probe" "$size" "$region" "$range" "$write"
    done <<'PARTS'
W25Q80DV W25Q80.V found 1048576 00010000:0002ffff - ok
W25Q128JV W25Q128.V found 16777216 00ff0000:00ffffff start=0x00f80000,length=0x00080000 ok
W25Q256JV W25Q256JV_Q several 33554432 00ff0000:0100ffff start=0x01fe0000,length=0x00020000 ok
MX25L3233F MX25L3233F/MX25L3273E several 4194304 00010000:0002ffff - ok
MX25L25635E MX25L25635F/MX25L25645G found 33554432 00ff0000:0100ffff - fail
GD25Q64C GD25Q64(B) found 8388608 00010000:0002ffff start=0x007c0000,length=0x00040000 ok
IS25LP128 IS25LP128 found 16777216 00010000:0002ffff - ok
IS25LP064A IS25LP064 found 8388608 00010000:0002ffff - ok
PARTS

    # --- openFPGALoader: the chain of a scenario with real FPGA IDCODEs ---
    VCABLE_SCENARIO=$peers/fpga-chain.toml run openfpgaloader-detect ok \
        openFPGALoader --cable ft2232 --detect
    expect openfpgaloader-detect "idcode 0x362d093" "model +xc7a35" "model +LFE5UM-25"

    peers_usb0
}

# The peers built on libusb-0.1 (libftdi 0.x), on the libusb-0.1 face.
peers_usb0() {
    # --- pyusb's libusb-0.1 backend: the same listing, strings and loopback as on libusb-1.0 ---
    LD_LIBRARY_PATH=$usb0 run pyusb-libusb0 ok $python "$peers/pyusb_mpsse.py" libusb0
    expect pyusb-libusb0 "0403:6010 bcdDevice 0500" "serial 'ZV000001'" "loopback .*OK"

    # --- UrJTAG: the generic FT2232 cable, and detect on the default chain and on two FPGAs ---
    LD_LIBRARY_PATH=$usb0 run urjtag-detect ok jtag -q "$peers/urjtag-detect.jtag"
    expect urjtag-detect "Chain length: 2" "Device Id: .*\(0x87654321\)" \
        "Device Id: .*\(0x12345677\)"
    VCABLE_SCENARIO=$peers/fpga-chain.toml LD_LIBRARY_PATH=$usb0 run urjtag-fpga ok \
        jtag -q "$peers/urjtag-detect.jtag"
    expect urjtag-fpga "Device Id: .*\(0x41111043\)" "Manufacturer: Lattice" \
        "Device Id: .*\(0x0362D093\)" "Manufacturer: Xilinx"

    # --- iceprog: the flash ID on the iCE40 programmers' wiring. It is written for the H chips and
    # sends their clock command 0x8B, which the D chip answers 0xFA 0x8B; iceprog never reads that
    # answer, so everything it reads after lags two bytes (docs/virtual-cable.md).
    export VCABLE_SCENARIO=$peers/iceprog.toml
    LD_LIBRARY_PATH=$usb0 peer_errors="bad command 0x8B" run iceprog-id ok iceprog -t
    expect iceprog-id "cdone: high" "flash ID: 0xFF 0xFF 0xEF 0x40 0x18 " "Bye"
    unset VCABLE_SCENARIO
}

for delivery in immediate usb; do
    export VCABLE_REPLY_DELIVERY=$delivery
    peers
done
echo "peers: $((runs)) runs, $failures failures"
[ $failures -eq 0 ]
