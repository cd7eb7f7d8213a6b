#!/usr/bin/env bash
# kestrel's JTAG player beside OpenOCD's `svf` on the same files, scenarios and clock: the virtual
# cable's model clock at full speed (VCABLE_CLOCK_REPORT), kestrel through the vendor face, OpenOCD
# through the USB face with its sleeps moved onto the model clock (model_clock_sleep), as kestrel
# waits its pauses there. A tool's time for a file is its run less its run of an empty file on the
# same scenario, so that the open, OpenOCD's chain probe and kestrel's closing pin read, which do
# not depend on the file, drop out. Then kestrel's XSVF playback of a CPLD program beside the
# file's own TCK time, batched and with --check-each. The files come from make_jtag_files.py.
#   bench/jtag_peers.sh BUILD     (BUILD with kestrel, the USB face and bench/model_clock_sleep)
. "$(dirname "$0")/peer_setup.sh" "$@"
python3 "$root/bench/make_jtag_files.py" "$work"
: > "$work/empty.svf"

elapsed() {
    python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["full_speed"]["elapsed_ms"])' \
        "$work/clock.json"
}

# kestrel_ms SCENARIO FILE: the model clock of a whole kestrel run.
kestrel_ms() {
    local args=(--virtual)
    [ -n "$1" ] && args+=("$1")
    VCABLE_CLOCK_REPORT=$work/clock.json timeout 600 "$kestrel" "${args[@]}" jtag svf "$2" \
        > "$work/kestrel.log" 2>&1 || { cat "$work/kestrel.log" >&2; exit 1; }
    elapsed
}

# openocd_ms SCENARIO FILE: the same for OpenOCD, the file without comments and one command a line
# (OpenOCD 0.12 runs only the first command of a line that holds several).
openocd_ms() {
    python3 -c 'import re, sys
text = re.sub(r"(!|//).*", "", open(sys.argv[1]).read())
print(re.sub(r";[ \t]*", ";\n", text))' "$2" > "$work/split.svf"
    env ${1:+VCABLE_SCENARIO=$1} LD_PRELOAD="$shim" LD_LIBRARY_PATH="$build/virtual-cable/usb" \
        VCABLE_CLOCK_REPORT="$work/clock.json" timeout 600 openocd \
        -f "$root/examples/peers/openocd-cable.cfg" -c "init; svf -quiet $work/split.svf; shutdown" \
        > "$work/openocd.log" 2>&1 || { cat "$work/openocd.log" >&2; exit 1; }
    elapsed
}

echo "| file | scenario | kestrel jtag svf | OpenOCD svf | ratio |"
echo "|---|---|---|---|---|"
while read -r file scenario; do
    [ "$scenario" = - ] && scenario=""
    k=$(python3 -c "print($(kestrel_ms "$scenario" "$file") - $(kestrel_ms "$scenario" "$work/empty.svf"))")
    o=$(python3 -c "print($(openocd_ms "$scenario" "$file") - $(openocd_ms "$scenario" "$work/empty.svf"))")
    printf '| %s | %s | %.0f ms | %.0f ms | %.3f |\n' "$(basename "$file")" \
        "$(basename "${scenario:-default}")" "$k" "$o" "$(python3 -c "print($k / $o)")"
done <<LIST
$root/examples/svf/user-register.svf -
$root/examples/svf/idcode-chain.svf $root/examples/scenarios/jtag-chain.toml
$root/examples/svf/memory-program.svf $root/examples/scenarios/jtag-memory.toml
$root/examples/svf/verify-heavy.svf $root/examples/scenarios/jtag-verify.toml
$work/fpga-config.svf $work/fpga-config.toml
LIST

echo
echo "| XSVF playback | TCK time | modelled time | ratio |"
echo "|---|---|---|---|"
for mode in "" --check-each; do
    "$kestrel" --virtual "$work/cpld-program.toml" jtag xsvf $mode "$work/cpld-program.xsvf" \
        2> /dev/null | python3 -c '
import re, sys
m = re.search(r"modelled time at full speed: ([0-9.]+) ms; TCK time ([0-9.]+) ms", sys.stdin.read())
print("| cpld-program.xsvf %s | %s ms | %s ms | %.2f |" % (sys.argv[1], m.group(2), m.group(1),
      float(m.group(1)) / float(m.group(2))))' "${mode:-(batched)}"
done
