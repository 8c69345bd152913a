#!/usr/bin/env bash
# End to end: the real player on a real sound server.
#
# usage: player_e2e.sh MODE CANTILENA CANTILENA_TOOL
#
# play: a private PulseAudio server with only a null sink; records the sink's
#   monitor, runs the player in a pseudo-terminal with a fixed seed, types Esc
#   after 8 seconds, and checks the banner, the exit status, the terminal
#   settings, and that the recording equals `cantilena-tool render` of the
#   same song with the same seed, sample for sample. Then Ctrl-C.
# no-device: with no server to reach, the player must say so and exit 1.
# frozen: the server stops (SIGSTOP) while the player plays: Esc and SIGTERM
#   still end it at once; left alone it gives up after 5 s with one line.
# killed: the server dies: the player gives up after 5 s with one line and no
#   library chatter; a server restarted in time is played on.
# mute-server: a server that takes the connection and never answers: the
#   player gives up within 5 s saying what hung; Esc and SIGTERM end the wait.
# tool-play: `cantilena-tool play` of the example song from 30 s, off a
#   terminal: it ends by itself at the song's end, and the recording equals
#   the render from there; on a terminal: the status line, keys, q.
set -euo pipefail

mode=$1
player=$2
tool=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/sound_server.sh"
sound_server_check
seed=4242
esc_after=8
# Esc and the stop signals end the player within 100 ms whatever the device
# does (CANTILENA_STOP_LIMIT widens the bound on a machine busy with other work).
stop_limit=${CANTILENA_STOP_LIMIT:-0.1}

work=$(mktemp -d "${TMPDIR:-/tmp}/cantilena-e2e.XXXXXX")
mute_pid=""
cleanup() {
    set +e
    [ -n "$mute_pid" ] && kill "$mute_pid" 2>/dev/null && wait "$mute_pid" 2>/dev/null
    sound_server_stop
    if [ -n "${CANTILENA_E2E_KEEP:-}" ]; then echo "kept $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
sound_server_env "$work"

fail=0
failed() { echo "FAIL: $*" >&2; fail=1; }

# run NAME ACTION... : the player in a pseudo-terminal (pty_run.py), its
# report in $work/NAME.txt, shown on the test's output.
# Arguments after a "--" go to the program.
run() {
    local name=$1
    shift
    local actions=() arguments=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do actions+=("$1"); shift; done
    [ $# -gt 0 ] && shift
    arguments=("$@")
    CANTILENA_SEED=$seed python3 "$here/pty_run.py" --timeout 60 "${actions[@]}" -- "$player" "${arguments[@]}" \
        >"$work/$name.txt"
    echo "--- $name"
    cat "$work/$name.txt"
}
field() { sed -n "s/^$2 //p" "$work/$1.txt"; }
# The player's lines, after the report's "output:" line.
said() { sed -n '/^output:$/,$p' "$work/$1.txt" | tail -n +2 | tr -d '\r'; }

expect_status() { [ "$(field "$1" status)" = "$2" ] || failed "$1: exit status $(field "$1" status), expected $2"; }
expect_restored() { [ "$(field "$1" restored)" = 1 ] || failed "$1: the terminal settings were not restored"; }
expect_prompt_stop() {
    awk -v t="$(field "$1" stop_seconds)" -v limit="$stop_limit" 'BEGIN { exit !(t < limit) }' ||
        failed "$1: the player took $(field "$1" stop_seconds) s to stop (limit $stop_limit s)"
}
# expect_lost NAME FIRST LAST: exit 1 with the banner and one line saying the
# output was lost, between FIRST and LAST seconds after the start.
expect_lost() {
    expect_status "$1" 1
    expect_restored "$1"
    local lines
    lines=$(said "$1" | grep -v '^Cantilena -- playing ' || true)
    [ "$(printf '%s\n' "$lines" | grep -c .)" -eq 1 ] || failed "$1: expected one line besides the banner, got: $lines"
    printf '%s\n' "$lines" | grep -q '^cantilena: sound output lost: ' || failed "$1: no 'sound output lost' line"
    awk -v t="$(field "$1" wall_seconds)" -v a="$2" -v b="$3" 'BEGIN { exit !(t >= a && t <= b) }' ||
        failed "$1: gave up after $(field "$1" wall_seconds) s, expected between $2 and $3 s"
}

case "$mode" in
no-device)
    status=0
    timeout 60 "$player" </dev/null >"$work/out" 2>"$work/err" || status=$?
    cat "$work/err" >&2
    [ "$status" -eq 1 ] || failed "exit status $status without a sound server, expected 1"
    [ "$(wc -l <"$work/err")" -eq 1 ] || failed "expected one line on stderr"
    grep -q "no sound output" "$work/err" || failed "the message does not say what failed"
    grep -q "cantilena-tool render" "$work/err" || failed "the message does not point to the renderer"
    [ ! -s "$work/out" ] || failed "something was printed on stdout"
    ;;
play)
    sound_server_start
    sound_server_record "$work/recording.raw"
    run played "$esc_after:key:esc"
    sleep 1
    sound_server_stop
    expect_status played 0
    [ "$(field played changed_while_playing)" = 1 ] || failed "the terminal was not in key mode while playing"
    expect_restored played
    expect_prompt_stop played
    said played | grep -q "^Cantilena -- playing .*\. Press Esc to stop\." || failed "no banner"
    awk -v cpu="$(field played cpu_seconds)" -v wall="$(field played wall_seconds)" \
        'BEGIN { printf "player CPU use while playing: %.1f%% of one core\n", 100 * cpu / wall }'
    "$tool" render -o "$work/render.wav" --seed "$seed" --seconds $((esc_after + 4)) 2>"$work/render.log" ||
        { cat "$work/render.log" >&2; echo "FAIL: cantilena-tool render failed" >&2; exit 1; }
    python3 "$here/compare_audio.py" "$work/recording.raw" "$work/render.wav" $((esc_after - 2)) || fail=1

    # Ctrl-C ends playback as cleanly as Esc, an arrow key does not end it.
    sound_server_start
    run interrupted 1.5:key:right 1.6:key:left 3:key:ctrl-c
    expect_status interrupted 0
    expect_restored interrupted
    awk -v t="$(field interrupted wall_seconds)" 'BEGIN { exit !(t >= 3) }' || failed "an arrow key stopped the player"
    expect_prompt_stop interrupted
    ;;
frozen)
    sound_server_start
    run frozen_esc "3:run:kill -STOP $sound_server_pid" 6:key:esc
    kill -CONT "$sound_server_pid"
    expect_status frozen_esc 0
    expect_restored frozen_esc
    expect_prompt_stop frozen_esc
    run frozen_term "3:run:kill -STOP $sound_server_pid" 6:signal:TERM
    kill -CONT "$sound_server_pid"
    expect_status frozen_term 0
    expect_restored frozen_term
    expect_prompt_stop frozen_term
    run frozen_left "3:run:kill -STOP $sound_server_pid"
    kill -CONT "$sound_server_pid"
    expect_lost frozen_left 7 10
    ;;
killed)
    sound_server_start
    run killed "3:run:kill -KILL $sound_server_pid"
    wait "$sound_server_pid" 2>/dev/null || true
    sound_server_pid=""
    expect_lost killed 7 10
    # Back within 5 s: played on until Esc.
    sound_server_start
    run restarted "3:run:kill -KILL $sound_server_pid" \
        "4:run:. $here/sound_server.sh && sound_server_env $work && sound_server_start && echo \$sound_server_pid >$work/server.pid" \
        10:key:esc
    sound_server_pid=$(cat "$work/server.pid")
    expect_status restarted 0
    expect_restored restarted
    said restarted | grep -q "sound output lost" && failed "restarted: the player gave up on a server that came back"
    ;;
mute-server)
    # Takes connections on the server's socket and never says a word.
    python3 -c 'import socket, sys
s = socket.socket(socket.AF_UNIX); s.bind(sys.argv[1]); s.listen(16); held = []
while True: held.append(s.accept()[0])' "$work/run/native" &
    mute_pid=$!
    for _ in $(seq 50); do [ -S "$work/run/native" ] && break; sleep 0.1; done
    run mute
    expect_status mute 1
    expect_restored mute
    [ "$(said mute | grep -c .)" -eq 1 ] || failed "mute: expected one line"
    said mute | grep -q '^cantilena: no sound output (.* did not finish within 5 s)' ||
        failed "mute: the line does not say what hung"
    awk -v t="$(field mute wall_seconds)" 'BEGIN { exit !(t >= 4.9 && t < 6.5) }' ||
        failed "mute: gave up after $(field mute wall_seconds) s, expected 5"
    run mute_esc 1:key:esc
    expect_status mute_esc 0
    expect_restored mute_esc
    expect_prompt_stop mute_esc
    run mute_term 1:signal:TERM
    expect_status mute_term 0
    expect_prompt_stop mute_term
    ;;
tool-play)
    song=$here/../../examples/first-song/SONG.yaml
    sound_server_start
    sound_server_record "$work/recording.raw"
    start=$(date +%s.%N)
    status=0
    timeout 60 "$tool" play "$song" --seed "$seed" --from 30 </dev/null >"$work/out" 2>"$work/err" || status=$?
    finish=$(date +%s.%N)
    sleep 1
    sound_server_stop
    cat "$work/err" >&2
    [ "$status" -eq 0 ] || failed "play: exit status $status, expected 0"
    [ ! -s "$work/out" ] || failed "play: something was printed off a terminal"
    # The song's last notes fade out a little before 39 s.
    awk -v t="$(echo "$finish - $start" | bc)" 'BEGIN { exit !(t > 7 && t < 13) }' ||
        failed "play: took $(echo "$finish - $start" | bc) s from 30 s to the song's end"
    "$tool" compile "$song" -o "$work/song.img" 2>/dev/null
    "$tool" render "$work/song.img" -o "$work/render.wav" --seed "$seed" --seconds 45 2>/dev/null
    python3 "$here/compare_audio.py" "$work/recording.raw" "$work/render.wav" 7 30 || fail=1

    sound_server_start
    player=$tool
    run tool_keys 2:key:right 2.5:key:space 3:key:space 3.5:key:left 4:key:home 5:key:q -- play --seed "$seed"
    expect_status tool_keys 0
    expect_restored tool_keys
    expect_prompt_stop tool_keys
    said tool_keys | grep -q '^playing "Lanterns on the Water" -- Esc or q quits' || failed "play: no first line on a terminal"
    said tool_keys | grep -q "play  .* / 3:18.0 .* bpm .* voices  L\[" || failed "play: no status line"
    ;;
*)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac
[ "$fail" -eq 0 ] || exit 1
echo "$mode: ok"
