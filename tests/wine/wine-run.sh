#!/bin/sh
# Runs one Windows program under Wine for ctest (the cross build's CMAKE_CROSSCOMPILING_EMULATOR).
# scripts/test.sh prepares a fresh Wine prefix per run and passes it in KESTREL_WINEPREFIX; a
# plain ctest run uses one prefix per user under the temporary folder, created on first use.
export WINEDEBUG=-all
export WINEPREFIX="${KESTREL_WINEPREFIX:-${TMPDIR:-/tmp}/kestrellink-wine-$(id -u)}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"  # no Mono/Gecko prompts
unset DISPLAY                                                   # headless: no window appears
exec wine "$@"
