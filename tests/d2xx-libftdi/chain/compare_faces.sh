#!/bin/sh
# Runs the D2XX call table over the virtual cable's vendor face and over the library on libftdi1
# (its folder first on the loader's path, then the USB face's), and compares the transcripts.
# Usage: compare_faces.sh TRANSCRIPT VENDOR_FACE_DIR LIBFTDI_DIR USB_FACE_DIR
set -eu
transcript=$1 vendor=$2 libftdi=$3 usb=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
LD_LIBRARY_PATH="$vendor" "$transcript" > "$work/vendor-face.txt"
LD_LIBRARY_PATH="$libftdi:$usb" "$transcript" > "$work/libftdi.txt"
if ! diff -u "$work/vendor-face.txt" "$work/libftdi.txt"; then
    echo "the two D2XX libraries disagree (- vendor face, + libftdi1)" >&2
    exit 1
fi
echo "$(wc -l < "$work/libftdi.txt") rows agree"
