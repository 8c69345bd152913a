#!/usr/bin/env bash
# End to end: the programs that `cantilena-tool export` writes.
#
# usage: export_e2e.sh play|damaged CANTILENA_TOOL SOURCE_DIR
#
# play: exports the example song plain and packed, and plays each through a
# private PulseAudio server with a null sink, in a pseudo-terminal, with a
# fixed seed and no key pressed: each shows its title in the banner, ends by
# itself at the song's end, and what the sink heard equals `cantilena-tool
# render` of the song sample for sample. The packed one leaves no file behind.
# damaged: the program cut short at every length of its trailer and into its
# image, with a flipped checksum, with an image that fails validation and with
# a trailer claiming more bytes than the file has: each says in one line what
# is wrong and exits 1 before it looks for a sound device. `strip` leaves a
# player without a song, and --info prints what cantilena-tool info prints.
set -euo pipefail

mode=$1
tool=$2
source_dir=$3
here=$(cd "$(dirname "$0")" && pwd)
seed=4242
trailer_bytes=96
checksum_at=76  # in the trailer
size_at=64

source "$here/sound_server.sh"
sound_server_check
work=$(mktemp -d "${TMPDIR:-/tmp}/cantilena-export-e2e.XXXXXX")
cleanup() {
    sound_server_stop
    if [ -n "${CANTILENA_E2E_KEEP:-}" ]; then echo "kept $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
sound_server_env "$work"

song=$source_dir/examples/first-song/SONG.yaml
"$tool" compile -q "$song" -o "$work/first-song.img"
"$tool" export "$song" -o "$work/first-song" 2>"$work/export.log" ||
    { cat "$work/export.log" >&2; echo "FAIL: export failed" >&2; exit 1; }
[ "$(stat -c %a "$work/first-song")" = 755 ] || { echo "FAIL: the program's mode is not 755" >&2; exit 1; }
info_field() { "$work/first-song" --info | sed -n "s/^$1 //p"; }
fail=0

if [ "$mode" = play ]; then
    "$tool" export --pack "$song" -o "$work/first-song.packed"
    end_seconds=$(info_field end: | sed 's/ s .*//')
    "$tool" render "$work/first-song.img" --seed "$seed" --seconds "$(awk -v e="$end_seconds" 'BEGIN { print e + 3 }')" \
        -o "$work/render.wav" 2>"$work/render.log" ||
        { cat "$work/render.log" >&2; echo "FAIL: cantilena-tool render failed" >&2; exit 1; }
    mkdir "$work/tmp"
    for program in first-song first-song.packed; do
        sound_server_start
        sound_server_record "$work/$program.raw"
        TMPDIR=$work/tmp CANTILENA_SEED=$seed python3 "$here/pty_run.py" --timeout 120 -- "$work/$program" \
            >"$work/$program.txt"
        sleep 1
        sound_server_stop
        field() { sed -n "s/^$1 //p" "$work/$program.txt"; }
        echo "$program: $(grep -m1 '^Cantilena' "$work/$program.txt" || true), ended after $(field wall_seconds) s"
        [ "$(field status)" = 0 ] || { sed -n '/^output:/,$p' "$work/$program.txt" >&2; echo "FAIL: $program exited with $(field status)" >&2; fail=1; }
        grep -q '^Cantilena -- playing "First Song"\. Press Esc to stop\.' "$work/$program.txt" ||
            { echo "FAIL: $program shows no banner with the song's title" >&2; fail=1; }
        [ "$(field restored)" = 1 ] || { echo "FAIL: $program did not restore the terminal" >&2; fail=1; }
        awk -v wall="$(field wall_seconds)" -v end="$end_seconds" 'BEGIN { exit !(wall >= end && wall < end + 4) }' ||
            { echo "FAIL: $program ended after $(field wall_seconds) s; the song ends at $end_seconds s" >&2; fail=1; }
        python3 "$here/compare_audio.py" "$work/$program.raw" "$work/render.wav" 20 || fail=1
    done
    [ -z "$(ls -A "$work/tmp")" ] || { echo "FAIL: the packed program left files behind: $(ls "$work/tmp")" >&2; fail=1; }
    [ "$fail" -eq 0 ] || exit 1
    echo "play: ok"
    exit 0
fi

# Runs a program that must refuse to play: exit 1, one line on stderr
# containing the words given, nothing on stdout.
refused() {
    local label=$1 program=$2 words=$3 status=0
    chmod 755 "$program"
    timeout 20 "$program" </dev/null >"$work/out" 2>"$work/err" || status=$?
    if [ "$status" -ne 1 ] || [ "$(wc -l <"$work/err")" -ne 1 ] || ! grep -qF -- "$words" "$work/err" || [ -s "$work/out" ]; then
        echo "FAIL: $label: exit status $status, expected 1 and one line saying \"$words\"; stderr:" >&2
        cat "$work/err" >&2
        fail=1
    fi
}

# The word at an offset of the program's trailer.
trailer_word() {
    python3 -c 'import struct, sys; d = open(sys.argv[1], "rb").read(); print(struct.unpack_from("<I", d, len(d) - 96 + int(sys.argv[2]))[0])' "$@"
}

# Rewrites a word of the program's trailer (offset within it) or of its
# unpacked image (negative offset: counted back from the trailer's start, -1
# the image's first word; the image is then stored again as one run of
# literal bytes), and reseals the checksum.
forge() {
    python3 - "$@" <<'PY'
import struct, sys, zlib
path, where, value = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
data = bytearray(open(path, "rb").read())
trailer = len(data) - 96
start = trailer - struct.unpack_from("<I", data, trailer + 64)[0]

def unpack(packed):
    image, at = bytearray(), 0
    def count(nibble):
        nonlocal at
        while nibble >= 15:
            more, at = packed[at], at + 1
            nibble += more
            if more != 255:
                break
        return nibble
    while at < len(packed):
        token, at = packed[at], at + 1
        literals = count(token >> 4)
        image += packed[at:at + literals]
        at += literals
        if at == len(packed):
            break
        offset, at = packed[at] | packed[at + 1] << 8, at + 2
        for _ in range(count(token & 15) + 4):
            image.append(image[-offset])
    return image

if where >= 0:
    struct.pack_into("<I", data, trailer + where, value)
else:
    image = unpack(data[start:trailer])
    struct.pack_into("<I", image, -where - 1, value)
    repacked, rest = bytearray([0xF0]), len(image) - 15
    while rest >= 255:
        repacked.append(255)
        rest -= 255
    repacked += bytes([rest]) + image
    data[start:] = repacked + data[trailer:]
    trailer = start + len(repacked)
    struct.pack_into("<I", data, trailer + 64, len(repacked))
struct.pack_into("<I", data, trailer + 76, zlib.crc32(bytes(data[start:trailer]) + bytes(data[trailer:trailer + 76])))
open(path, "wb").write(data)
PY
}

program=$work/first-song
size=$(stat -c %s "$program")
packed_size=$(trailer_word "$program" "$size_at")
extent=$((size - packed_size - trailer_bytes))
for cut in $(seq 1 $((trailer_bytes + 8))) $((trailer_bytes + packed_size / 2)) $((packed_size + trailer_bytes - 1)); do
    head -c $((size - cut)) "$program" >"$work/cut"
    refused "cut short by $cut bytes" "$work/cut" "appended song: byte"
done
head -c "$extent" "$program" >"$work/cut"
refused "cut where the player ends" "$work/cut" "carries no song"

cp "$program" "$work/flipped"
printf '\xff' | dd of="$work/flipped" bs=1 seek=$((size - trailer_bytes + checksum_at)) conv=notrunc status=none
refused "a flipped checksum" "$work/flipped" "the checksum does not match"

cp "$program" "$work/invalid"
forge "$work/invalid" -1 0  # the image's first word, ticks per quarter
refused "an image that fails validation" "$work/invalid" "appended song: byte 0: ticks per quarter note is 0"

cp "$program" "$work/claims"
forge "$work/claims" "$size_at" $((packed_size + 1000))
refused "a trailer claiming more bytes than the file has" "$work/claims" "claims a $((packed_size + 1000))-byte packed image"

cp "$program" "$work/stripped"
strip "$work/stripped"
refused "a stripped program" "$work/stripped" "carries no song"

diff <("$program" --info) <("$tool" info "$program") >"$work/info.diff" ||
    { cat "$work/info.diff" >&2; echo "FAIL: --info differs from cantilena-tool info" >&2; fail=1; }
grep -qx 'title: "First Song"' <("$program" --info) || { echo "FAIL: --info does not show the title" >&2; fail=1; }
[ "$fail" -eq 0 ] || exit 1
echo "damaged: ok"
