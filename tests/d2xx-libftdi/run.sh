#!/usr/bin/env bash
# The D2XX library over libftdi1 end to end, over the virtual cable's USB face: its unit tests, the
# whole-chain tests, the call table and the reference jobs' bytes on the wire compared with the
# virtual cable's vendor face, kestrel demo --hardware, the Python package and the consumer
# example host on the chain, and the chain tests under ThreadSanitizer (clang,
# build-tsan-libftdi/). Usage: tests/d2xx-libftdi/run.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
# The whole list first: grep -q would stop reading early, and the pipe's failure would read as
# "not found".
targets=$(cmake --build "$build" --target help)
if ! grep -q '^ftd2xx_libftdi' <<<"$targets"; then
    echo "d2xx-libftdi: libftdi1 was not found when $build was configured; nothing to test"
    exit 0
fi
cmake --build "$build" -j2 --target ftd2xx_libftdi usb_virtual d2xx_libftdi_tests \
    d2xx_libftdi_chain_tests d2xx_transcript d2xx_jobs_vendor d2xx_jobs_libftdi kestrellink kestrel
ctest --test-dir "$build" -j2 --output-on-failure \
    -R '^(BaudRate|EepromLayout|DeviceListEntry|StatusMap|LibftdiChain|LibftdiProvisioning)\.|^d2xx_libftdi_(faces|jobs)_agree$'

# Hosts reach the chain with this library's folder first on the loader's path, then the USB face.
chain="$PWD/$build/d2xx-libftdi:$PWD/$build/virtual-cable/usb"
kestrel=$(find "$build/tools" -maxdepth 2 -type f -name kestrel -perm -u+x | head -n 1)
echo "kestrel demo --hardware over libftdi1 and the USB face"
LD_LIBRARY_PATH="$chain" "$kestrel" demo --hardware
echo "the same, the library chosen with --d2xx"
LD_LIBRARY_PATH="$PWD/$build/virtual-cable/usb" "$kestrel" --d2xx libftdi demo --hardware >/dev/null
# --version names the library a run would use and what chose it; --d2xx vendor wins over the
# environment variable, and a vendor library is never shadowed by default.
KESTREL_D2XX=libftdi "$kestrel" --version |
    grep -q '^D2XX library otherwise: /.*/d2xx-libftdi/libftd2xx.so (\$KESTREL_D2XX)$'
"$kestrel" --version | grep -q "^D2XX library otherwise: .*(the vendor's, default)$"
KESTREL_D2XX=libftdi LD_LIBRARY_PATH="$PWD/$build/virtual-cable/usb" \
    "$kestrel" --d2xx vendor demo --hardware >/dev/null 2>&1 && exit 1

echo "the Python package over the chain, the library chosen with \$KESTRELLINK_D2XX"
KESTRELLINK_D2XX=libftdi KESTRELLINK_LIBRARY="$PWD/$build/lib" PYTHONPATH=python \
    LD_LIBRARY_PATH="$PWD/$build/virtual-cable/usb" python3 - <<'PY'
import kestrellink
from kestrellink import _native, errors
assert kestrellink.use_d2xx("vendor") is None
try:
    kestrellink.use_d2xx("/nonexistent/libftd2xx.so")
    raise SystemExit("a missing library loaded")
except errors.KestrelLinkError:
    pass
library = kestrellink.load()
assert library.LoadD2XXDLL() == 0
loaded = _native.loaded_path(_native.already_loaded(_native.VENDOR_NAME))
assert loaded.endswith("/d2xx-libftdi/libftd2xx.so"), loaded
cable = kestrellink.Cable.open()
print("IDCODEs", [f"{idcode:08X}" for idcode in cable.jtag.idcodes()])
PY

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc -std=c11 -O2 -Wall -Wextra -Iinclude -o "$work/host" examples/consumer/host.c \
    -L"$build/lib" -lkestrellink
echo "examples/consumer/host.c over libftdi1 and the USB face"
LD_LIBRARY_PATH="$chain:$PWD/$build/lib" "$work/host" | tee "$work/host.txt"
grep -Eq '^[0-9A-F]{8}( [0-9A-F]{8})*$' "$work/host.txt"  # the chain's IDCODEs

# ThreadSanitizer over the receive queue: the chain tests, whose last case runs two threads on
# one channel. libftdi1 is the system's, uninstrumented; the library calls it under its locks.
CC=clang CXX=clang++ cmake -S . -B build-tsan-libftdi -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKESTREL_TSAN=ON -DKESTREL_BUILD_TOOLS=OFF -DKESTREL_BUILD_EXAMPLES=OFF -DKESTREL_WERROR=ON \
    >/dev/null
cmake --build build-tsan-libftdi -j2 --target d2xx_libftdi_chain_tests
TSAN_OPTIONS=halt_on_error=1:abort_on_error=1 \
    build-tsan-libftdi/tests/d2xx_libftdi_chain_tests --gtest_brief=1
