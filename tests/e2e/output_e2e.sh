#!/usr/bin/env bash
# End to end: how cantilena-tool writes its outputs and reads its inputs.
#
# usage: output_e2e.sh CANTILENA_TOOL SOURCE_DIR
#
# A full device takes no output and stays a device; a symbolic link's target
# is written; a file replaced keeps its owner and mode; a file with two names
# is written in place; a FIFO and standard output get the WAV as it is made;
# an output that is an input is refused; a render stopped by SIGINT, SIGTERM
# or a full disk (a file size limit) leaves the previous file and nothing
# else; decompile writes all its files or none and refuses a directory that
# is not empty unless --force; errors writing standard output end in exit 1;
# reading a device without end stops at the size limit; a directory that
# takes no new file (as a user without rights to it) gets the file in place.
# The small messages: an unknown command, empty numbers, a missing directory,
# a raw Latin-1 byte, a 1-byte image.
set -uo pipefail

tool=$(realpath "$1")
source_dir=$(realpath "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/cantilena-output-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"  # where a command that wrote into the current directory would leave its files
failures=0
song=$source_dir/examples/first-song

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Runs the tool; status, and its standard error in err.
run() {
    "$tool" "$@" >"$work/out" 2>"$work/err"
    status=$?
    err=$(cat "$work/err")
}

# expect LABEL STATUS [WORDS]: the last run's exit status and words on stderr.
expect() {
    [ "$status" = "$2" ] || fail "$1: exit status $status, expected $2 ($err)"
    [ -z "${3:-}" ] || grep -qF -- "$3" "$work/err" || fail "$1: stderr lacks \"$3\": $err"
}

# only LABEL DIR NAMES...: DIR holds exactly these names (no temporary file).
only() {
    local label=$1 dir=$2
    shift 2
    local found wanted
    found=$(cd "$dir" && ls -A | sort | tr '\n' ' ')
    wanted=$( ((${#@})) && printf '%s\n' "$@" | sort | tr '\n' ' ')
    [ "$found" = "$wanted" ] || fail "$label: $dir holds \"$found\", expected \"$wanted\""
}

same() { cmp -s "$2" "$3" || fail "$1: $2 differs from $3"; }

"$tool" compile -q "$song/SONG.yaml" -o "$work/song.img" || { echo "cannot compile the example song" >&2; exit 1; }
"$tool" render "$work/song.img" --seconds 1 --seed 5 -o "$work/expected.wav" || exit 1

# --- devices, links, owners, FIFOs, standard output
mkdir "$work/d"
full=$work/d/full  # a private node of the full device: a failure here cannot take the system's
if ! mknod "$full" c 1 7 2>/dev/null; then
    [ "$(id -u)" != 0 ] && full=/dev/full || full=""
fi
if [ -n "$full" ]; then
    run compile -q "$song/SONG.yaml" -o "$full"
    expect "compile -o a full device" 1 "cannot write: No space left on device"
    [ -c "$full" ] || fail "compile -o $full replaced the device node"
    run render "$work/song.img" --seconds 1 -o "$full"
    expect "render -o a full device" 1 "No space left on device"
    [ -c "$full" ] || fail "render -o $full replaced the device node"
    "$tool" info "$work/song.img" >"$full" 2>"$work/err"; status=$?; err=$(cat "$work/err")
    expect "info > a full device" 1 "cantilena-tool info: cannot write to standard output: No space left on device"
    "$tool" compile --parameters >"$full" 2>"$work/err"; status=$?; err=$(cat "$work/err")
    expect "compile --parameters > a full device" 1 "cantilena-tool compile: cannot write to standard output"
else
    echo "skipped the full device: no device node can be made" >&2
fi
"$tool" info "$work/song.img" >&- 2>"$work/err"; status=$?; err=$(cat "$work/err")
expect "info with standard output closed" 1 "cantilena-tool info: cannot write to standard output"
"$tool" events "$work/song.img" >&- 2>"$work/err"; status=$?; err=$(cat "$work/err")
expect "events with standard output closed" 1 "cannot write to standard output"

echo old >"$work/d/real.img"
ln -s real.img "$work/d/link.img"
run compile -q "$song/SONG.yaml" -o "$work/d/link.img"
expect "compile -o a symbolic link" 0
[ -L "$work/d/link.img" ] || fail "compile replaced the symbolic link"
same "compile -o a symbolic link" "$work/d/real.img" "$work/song.img"

echo old >"$work/d/kept.img"
chmod 640 "$work/d/kept.img"
[ "$(id -u)" = 0 ] && chown nobody:nogroup "$work/d/kept.img"
before=$(stat -c '%U:%G %a' "$work/d/kept.img")
run compile -q "$song/SONG.yaml" -o "$work/d/kept.img"
expect "compile over an existing file" 0
[ "$(stat -c '%U:%G %a' "$work/d/kept.img")" = "$before" ] ||
    fail "the replaced file is $(stat -c '%U:%G %a' "$work/d/kept.img"), was $before"
same "compile over an existing file" "$work/d/kept.img" "$work/song.img"

echo old >"$work/d/one.img"
ln "$work/d/one.img" "$work/d/two.img"
run compile -q "$song/SONG.yaml" -o "$work/d/one.img"
same "a file with two names" "$work/d/two.img" "$work/song.img"

mkfifo "$work/d/fifo"
timeout 30 cat "$work/d/fifo" >"$work/fifo.wav" &
reader=$!
run render "$work/song.img" --seconds 1 --seed 5 -o "$work/d/fifo"
wait "$reader"
expect "render -o a FIFO" 0
same "render -o a FIFO" "$work/fifo.wav" "$work/expected.wav"
[ -p "$work/d/fifo" ] || fail "render replaced the FIFO"

# Standard output gets the WAV as it is made: no temporary file anywhere.
TMPDIR=$work/nowhere "$tool" render "$work/song.img" --seconds 1 --seed 5 -o - >"$work/piped.wav" 2>"$work/err"
status=$?
err=$(cat "$work/err")
expect "render -o - with no temporary directory" 0
same "render -o -" "$work/piped.wav" "$work/expected.wav"
only "outputs written directly" "$work/d" full fifo kept.img link.img one.img real.img two.img

# --- inputs are not outputs
cp -r "$song" "$work/src"
cp "$work/src/SONG.yaml" "$work/SONG.before"
for output in SONG.yaml song.mid patches/bass.yaml; do
    run compile -q "$work/src/SONG.yaml" -o "$work/src/$output"
    expect "compile -o its own $output" 1 "$work/src/$output: is an input of this command"
done
same "compile -o its own SONG.yaml" "$work/src/SONG.yaml" "$work/SONG.before"
cp "$work/src/song.mid" "$work/alone.mid"
run compile "$work/alone.mid" -o "$work/alone.mid"
expect "compile song.mid -o song.mid" 1 "is an input of this command"
cp "$work/song.img" "$work/image.wav"
run render "$work/image.wav" --seconds 1 -o "$work/image.wav"
expect "render -o its own image" 1 "is an input of this command"
same "render -o its own image" "$work/image.wav" "$work/song.img"

# --- a render stopped part way leaves the previous file and nothing else
mkdir "$work/r"
echo previous >"$work/r/out.wav"
cp "$work/r/out.wav" "$work/previous.wav"
for signal in INT TERM; do
    env --default-signal=INT "$tool" render "$work/song.img" --seconds 3000 -o "$work/r/out.wav" 2>/dev/null &
    pid=$!
    for _ in $(seq 200); do
        compgen -G "$work/r/.out.wav.*" >/dev/null && break
        sleep 0.05
    done
    compgen -G "$work/r/.out.wav.*" >/dev/null || fail "render made no temporary file beside its output"
    kill -s "$signal" "$pid"
    wait "$pid"
    status=$?
    [ "$status" -gt 128 ] || fail "render stopped by SIG$signal exited with $status"
    same "render stopped by SIG$signal" "$work/r/out.wav" "$work/previous.wav"
    only "render stopped by SIG$signal" "$work/r" out.wav
done
(ulimit -f 64 && "$tool" render "$work/song.img" --seconds 5 -o "$work/r/out.wav") 2>"$work/err"
status=$?
err=$(cat "$work/err")
expect "render onto a full disk" 1 "$work/r/out.wav: cannot write: File too large"
same "render onto a full disk" "$work/r/out.wav" "$work/previous.wav"
only "render onto a full disk" "$work/r" out.wav

# --- decompile: all the files or none, into an empty directory unless --force
run decompile "$work/song.img" -o "$work/dec"
expect "decompile into a new directory" 0
compgen -G "$work/.dec.*" >/dev/null && fail "decompile left its temporary directory"
[ -f "$work/dec/SONG.yaml" ] && [ -f "$work/dec/song.mid" ] && [ -d "$work/dec/patches" ] ||
    fail "decompile wrote $(ls -R "$work/dec")"
echo mine >"$work/dec/SONG.yaml"
run decompile "$work/song.img" -o "$work/dec"
expect "decompile into a directory that is not empty" 1 "the directory is not empty (--force"
[ "$(cat "$work/dec/SONG.yaml")" = mine ] || fail "decompile overwrote a file without --force"
run decompile "$work/song.img" -o "$work/dec" --force
expect "decompile --force" 0
[ "$(cat "$work/dec/SONG.yaml")" != mine ] || fail "decompile --force left SONG.yaml as it was"
run decompile "$work/song.img" -o ''
expect "decompile -o ''" 1 "the output directory's name is empty"
mkdir "$work/full-disk"
(ulimit -f 1 && "$tool" decompile "$work/song.img" -o "$work/full-disk/sources") 2>"$work/err"
status=$?
err=$(cat "$work/err")
expect "decompile onto a full disk" 1 "File too large"
only "decompile onto a full disk" "$work/full-disk"
run bank --write "$work/dec"
expect "bank --write into a directory that is not empty" 1 "the directory is not empty"

# --- inputs are read up to a limit
for command in info events decompile; do
    arguments=("$command" /dev/zero)
    [ "$command" = decompile ] && arguments+=(-o "$work/zero")
    run "${arguments[@]}"
    expect "$command /dev/zero" 1 "/dev/zero: more than 64 MiB: no song image or program is that large"
done
run compile /dev/zero -o "$work/zero.img"
expect "compile /dev/zero" 1 "/dev/zero: more than 64 MiB: no song source (MIDI or YAML file) is that large"

# --- a directory that takes no new file, as a user without rights to it
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
    as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"; }
    chmod 755 "$work"
    mkdir "$work/locked"
    chmod 644 "$work/song.img"
    echo old >"$work/locked/mine.img"
    chown nobody:nogroup "$work/locked/mine.img"
    inode=$(stat -c %i "$work/locked/mine.img")
    as_nobody "$tool" compile -q "$song/SONG.yaml" -o "$work/locked/mine.img" 2>"$work/err"
    status=$?
    err=$(cat "$work/err")
    expect "compile over a file in a directory that takes no new file" 0
    same "compile in place" "$work/locked/mine.img" "$work/song.img"
    [ "$(stat -c %i "$work/locked/mine.img")" = "$inode" ] || fail "the file in the locked directory was replaced"
    as_nobody "$tool" render "$work/song.img" --seconds 1 -o "$work/locked/new.wav" 2>"$work/err"
    status=$?
    err=$(cat "$work/err")
    expect "render into a directory that takes no new file" 1 "cannot create a file in its directory: Permission denied"
    chmod 444 "$work/locked/mine.img"
    as_nobody "$tool" compile -q "$song/SONG.yaml" -o "$work/locked/mine.img" 2>"$work/err"
    status=$?
    err=$(cat "$work/err")
    expect "compile over a read-only file" 1 "cannot write: Permission denied"
    only "the locked directory" "$work/locked" mine.img
else
    echo "skipped the locked directory: needs root and setpriv" >&2
fi

# --- messages
run bogus
expect "an unknown command" 2 "cantilena-tool: unknown command 'bogus'; the commands are render,"
for option in --seconds --seed; do
    run render "$work/song.img" "$option" '' -o "$work/empty.wav"
    expect "render $option ''" 2 "$option: an empty value is not a number"
done
[ -e "$work/empty.wav" ] && fail "render with an empty number wrote a file"
run compile -q "$song/SONG.yaml" -o "$work/missing/dir/song.img"
expect "compile into a missing directory" 1 "$work/missing/dir/song.img: the directory $work/missing/dir does not exist"
printf 'midi: song.mid\npatches: {0: patches/bass.yaml}\nspeech:\n  - "caf\xe9 ok"\n' >"$work/src/latin1.yaml"
run compile "$work/src/latin1.yaml" -o "$work/latin1.img"
expect "a raw Latin-1 byte" 1 "latin1.yaml:4:5: byte 4 of this text (0xE9) is not valid UTF-8"
printf x >"$work/one-byte.img"
run info "$work/one-byte.img"
expect "a 1-byte image" 1 "the image is 1 byte, shorter than its 12-byte header"

[ "$failures" -eq 0 ] || { echo "$failures failures" >&2; exit 1; }
echo "outputs: ok"
