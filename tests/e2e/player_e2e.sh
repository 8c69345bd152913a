#!/usr/bin/env bash
# End to end: the real player on a real sound server.
#
# usage: player_e2e.sh play|no-device CANTILENA CANTILENA_TOOL
#
# play: starts a private PulseAudio server with only a null sink, records the
# sink's monitor, runs the player in a pseudo-terminal with a fixed seed,
# types Esc after 8 seconds, and checks the banner, the exit status, the
# terminal settings, and that the recording equals `cantilena-tool render`
# of the same song with the same seed, sample for sample.
# no-device: with no server to reach, the player must say so and exit 1.
set -euo pipefail

mode=$1
player=$2
tool=$3
here=$(cd "$(dirname "$0")" && pwd)
seed=4242
esc_after=8

for program in pulseaudio parec python3; do
    if ! command -v "$program" >/dev/null; then
        echo "$program is missing: install pulseaudio, pulseaudio-utils and libasound2-plugins (scripts/test.sh does)" >&2
        exit 1
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/cantilena-e2e.XXXXXX")
server_pid=""
recorder_pid=""
cleanup() {
    set +e
    if [ -n "$recorder_pid" ]; then kill "$recorder_pid" 2>/dev/null; wait "$recorder_pid" 2>/dev/null; fi
    if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null; fi
    if [ -n "${CANTILENA_E2E_KEEP:-}" ]; then echo "kept $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Everything private to this run: the server's runtime dir and cookie, and an
# ALSA configuration whose only device is the pulse plugin, so the player
# reaches this server and nothing else, whatever the machine has.
mkdir -p "$work/run" "$work/home"
chmod 700 "$work/run"
export HOME=$work/home
export XDG_RUNTIME_DIR=$work/run
export XDG_CONFIG_HOME=$work/home/.config
export PULSE_SERVER=unix:$work/run/native
cat > "$work/alsa.conf" <<'ALSA'
pcm.!default { type pulse }
ctl.!default { type pulse }
ALSA
export ALSA_CONFIG_PATH=$work/alsa.conf

if [ "$mode" = no-device ]; then
    status=0
    timeout 60 "$player" </dev/null >"$work/out" 2>"$work/err" || status=$?
    cat "$work/err" >&2
    [ "$status" -eq 1 ] || { echo "FAIL: exit status $status without a sound server, expected 1" >&2; exit 1; }
    [ "$(wc -l <"$work/err")" -eq 1 ] || { echo "FAIL: expected one line on stderr" >&2; exit 1; }
    grep -q "no sound output" "$work/err" || { echo "FAIL: the message does not say what failed" >&2; exit 1; }
    grep -q "cantilena-tool render" "$work/err" || { echo "FAIL: the message does not point to the renderer" >&2; exit 1; }
    [ ! -s "$work/out" ] || { echo "FAIL: something was printed on stdout" >&2; exit 1; }
    echo "no-device: ok"
    exit 0
fi

pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-target=stderr \
    -L "module-null-sink sink_name=cantilena_test rate=44100 channels=2 format=s16le" \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$work/run/native" \
    2>"$work/server.log" &
server_pid=$!
for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && break
    kill -0 "$server_pid" 2>/dev/null || { cat "$work/server.log" >&2; echo "FAIL: the sound server did not start" >&2; exit 1; }
    sleep 0.1
done
pactl info >/dev/null || { cat "$work/server.log" >&2; echo "FAIL: the sound server does not answer" >&2; exit 1; }

parec --device=cantilena_test.monitor --format=s16le --rate=44100 --channels=2 --raw "$work/recording.raw" &
recorder_pid=$!
sleep 0.5

CANTILENA_SEED=$seed python3 "$here/pty_run.py" esc "$esc_after" 60 "$player" >"$work/run.txt"
sleep 1
kill -INT "$recorder_pid"
wait "$recorder_pid" 2>/dev/null || true
recorder_pid=""
cat "$work/run.txt"

field() { sed -n "s/^$1 //p" "$work/run.txt"; }
interrupted() { sed -n "s/^$1 //p" "$work/interrupted.txt"; }
fail=0
[ "$(field status)" = 0 ] || { echo "FAIL: exit status $(field status), expected 0" >&2; fail=1; }
[ "$(field changed_while_playing)" = 1 ] || { echo "FAIL: the terminal was not in key mode while playing" >&2; fail=1; }
[ "$(field restored)" = 1 ] || { echo "FAIL: the terminal settings were not restored" >&2; fail=1; }
grep -q "^Cantilena -- playing .*\. Press Esc to stop\." "$work/run.txt" || { echo "FAIL: no banner" >&2; fail=1; }
awk -v wall="$(field wall_seconds)" -v limit=$((esc_after + 3)) 'BEGIN { exit !(wall < limit) }' ||
    { echo "FAIL: the player took $(field wall_seconds) s to stop after Esc at ${esc_after} s" >&2; fail=1; }
awk -v cpu="$(field cpu_seconds)" -v wall="$(field wall_seconds)" \
    'BEGIN { printf "player CPU use while playing: %.1f%% of one core\n", 100 * cpu / wall }'

# Ctrl-C ends playback as cleanly as Esc.
python3 "$here/pty_run.py" ctrl-c 2 30 "$player" >"$work/interrupted.txt"
[ "$(interrupted status)" = 0 ] || { echo "FAIL: exit status $(interrupted status) after Ctrl-C, expected 0" >&2; fail=1; }
[ "$(interrupted restored)" = 1 ] || { echo "FAIL: the terminal settings were not restored after Ctrl-C" >&2; fail=1; }

"$tool" render -o "$work/render.wav" --seed "$seed" --seconds $((esc_after + 4)) 2>"$work/render.log" ||
    { cat "$work/render.log" >&2; echo "FAIL: cantilena-tool render failed" >&2; exit 1; }
python3 "$here/compare_audio.py" "$work/recording.raw" "$work/render.wav" $((esc_after - 2)) || fail=1
[ "$fail" -eq 0 ] || exit 1
echo "play: ok"
