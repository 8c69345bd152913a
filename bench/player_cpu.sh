#!/usr/bin/env bash
# The player's CPU share while it plays the embedded song through a private
# sound server (PulseAudio with a null sink): the run time of its threads
# (to the nanosecond, from /proc/PID/task/*/schedstat; clock ticks where the
# system keeps no such figures) between 3 s and 3 + SECONDS s of play, as a
# percent of one core. Repeats RUNS times and prints each figure and the best.
#
# usage: player_cpu.sh CANTILENA [SECONDS (25)] [RUNS (3)]
set -euo pipefail
player=$1
seconds=${2:-25}
runs=${3:-3}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/e2e/sound_server.sh"
sound_server_check

work=$(mktemp -d "${TMPDIR:-/tmp}/cantilena-cpu.XXXXXX")
cleanup() { sound_server_stop; rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 130' INT TERM
sound_server_env "$work"
sound_server_start

best=""
for run in $(seq "$runs"); do
    end=$((3 + seconds))
    python3 "$here/../tests/e2e/pty_run.py" --timeout $((end + 30)) 3:cpu "$end:cpu" "$end:key:esc" -- \
        "$player" >"$work/run.txt"
    share=$(sed -n 's/^cpu_share //p' "$work/run.txt")
    echo "run $run: ${share}% of one core"
    if [ -z "$best" ] || awk -v a="$share" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$share; fi
done
echo "player CPU share while playing (best of $runs, ${seconds} s each): ${best}% of one core"
