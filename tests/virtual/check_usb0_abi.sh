#!/usr/bin/env bash
# The libusb-0.1 face against the system's libusb-0.1: the same exported names, each a function
# or a variable alike (the face adds only its vc_* control API), and the same declarations (the
# ABI dump built against each header).
#   check_usb0_abi.sh SYSTEM_LIBRARY FACE_LIBRARY SYSTEM_DUMP FACE_DUMP
set -euo pipefail
exports() {  # the usb_* names a library defines, with their kind: function (T) or data (D, B)
    nm -D --defined-only "$1" | awk '$3 ~ /^usb_/ { print ($2 == "T" ? "function" : "data"), $3 }' |
        sort -k2
}
status=0
diff <(exports "$1") <(exports "$2") || { echo "the exports differ (< system, > face)"; status=1; }
diff <("$3") <("$4") || { echo "the declarations differ (< system header, > face)"; status=1; }
[ $status -eq 0 ] && echo "exports and declarations agree with $1"
exit $status
