#!/bin/sh
# Runs two programs that print the same report over different D2XX stacks and compares the
# reports. Usage: compare_runs.sh OVER_VENDOR_FACE OVER_LIBFTDI
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$1" > "$work/vendor-face.txt"
"$2" > "$work/libftdi.txt"
if ! diff -u "$work/vendor-face.txt" "$work/libftdi.txt"; then
    echo "the two stacks disagree (- vendor face, + libftdi1)" >&2
    exit 1
fi
cat "$work/libftdi.txt"
