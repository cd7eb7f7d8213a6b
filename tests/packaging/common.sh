# Sourced by the packaging checks: moves to the tree's root and sets root, build (the check's
# first argument, else $default_build) and work (an empty folder, removed at exit); then the
# helpers the checks share.
# shellcheck shell=bash
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
root=$PWD
build=$(realpath "${1:-$default_build}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
check_name=$(basename "$0" .sh)

fail() { echo "$check_name: $*" >&2; exit 1; }
# expect_output FILE PATTERN...: each extended regex must match a line of FILE.
expect_output() {
    local file=$1; shift
    for pattern in "$@"; do
        grep -Eq -- "$pattern" "$file" || { cat "$file"; fail "no line matches '$pattern'"; }
    done
}
