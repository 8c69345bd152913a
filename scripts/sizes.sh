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
printf '%-42s %7d bytes\n' "appended song (packed image and trailer)" \
    $(($(stat -c %s "$work/exported") - $(stat -c %s "$build/app/cantilena-songless.stripped")))
row "embedded song, exported" "$work/exported" 98304
row "embedded song, exported and packed" "$work/packed" 65536

# The player's file grows in whole pages: its write-protected data (RELRO)
# must end on a page boundary, so the file pads up to one. Code and data can
# grow by this much before the next 4096 bytes of padding appear.
headers=$(readelf -lW "$build/app/cantilena-songless.stripped")
text_end=$(awk '$1 == "LOAD" { print $5; exit }' <<<"$headers")
relro=$(awk '$1 == "GNU_RELRO" { print $6 }' <<<"$headers")
if [ -n "$text_end" ] && [ -n "$relro" ]; then
    echo "player without a song: $(((4096 - (text_end + relro) % 4096) % 4096)) bytes of room before its file grows by a page"
fi
echo "libraries the exported program needs: $(readelf -dW "$build/app/cantilena-songless.stripped" |
    sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p' | tr '\n' ' ')"
