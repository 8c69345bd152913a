#!/usr/bin/env bash
# Prints the sizes of the player and of the programs export writes for the
# embedded song, against the targets of the 64k class (x86-64, system
# libraries linked dynamically). Figures, not a test: it never fails on size.
#
# usage: scripts/sizes.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
work=$(mktemp -d "${TMPDIR:-/tmp}/cantilena-sizes.XXXXXX")
trap 'rm -rf "$work"' EXIT

strip -o "$work/cantilena" "$build/app/cantilena"
"$build/tools/cantilena-tool" export -o "$work/exported"
"$build/tools/cantilena-tool" export --pack -o "$work/packed"

row() {
    local label=$1 file=$2 target=${3:-}
    local bytes
    bytes=$(stat -c %s "$file")
    if [ -n "$target" ]; then
        local verdict="within"
        [ "$bytes" -le "$target" ] || verdict="OVER"
        printf '%-42s %7d bytes %6.1f KiB   target %d KiB: %s by %d bytes\n' "$label" "$bytes" \
            "$(awk -v b="$bytes" 'BEGIN { print b / 1024 }')" $((target / 1024)) "$verdict" \
            $((bytes > target ? bytes - target : target - bytes))
    else
        printf '%-42s %7d bytes %6.1f KiB\n' "$label" "$bytes" "$(awk -v b="$bytes" 'BEGIN { print b / 1024 }')"
    fi
}

echo "sizes (stripped):"
row "player (cantilena)" "$work/cantilena"
row "player without a song" "$build/app/cantilena-songless.stripped"
row "embedded song, exported" "$work/exported" 98304
row "embedded song, exported and packed" "$work/packed" 65536
