# Sourced by the peer benchmarks (jtag_peers.sh, spi_peers.sh) with their BUILD argument: the
# build's kestrel and model_clock_sleep, a work folder removed on exit, and none of the virtual
# cable's file variables of the caller's environment.
set -euo pipefail
build=$(cd "${1:?usage: $(basename "$0") BUILD}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
kestrel=$build/tools/kestrel
shim=$build/bench/libmodel_clock_sleep.so
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset VCABLE_SCENARIO VCABLE_STATE VCABLE_TRACE VCABLE_VCD VCABLE_CALL_LOG
