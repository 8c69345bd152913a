# A private PulseAudio server with one null sink, for the end-to-end tests
# and the player's measurements. Source this file, then:
#   sound_server_env WORK   everything private to WORK: the server's runtime
#                           directory and cookie, and an ALSA configuration
#                           whose only device is the pulse plugin, so a player
#                           reaches this server and nothing else
#   sound_server_start      starts the server (pid in $sound_server_pid)
#   sound_server_record F   records the sink into F (raw s16le stereo 44100 Hz;
#                           pid in $sound_recorder_pid)
#   sound_server_stop       ends the recorder and the server
sound_server_pid=""
sound_recorder_pid=""

sound_server_check() {
    local program
    for program in pulseaudio parec pactl python3; do
        if ! command -v "$program" >/dev/null; then
            echo "$program is missing: install pulseaudio, pulseaudio-utils and libasound2-plugins (scripts/test.sh does)" >&2
            return 1
        fi
    done
}

sound_server_env() {
    sound_server_work=$1
    mkdir -p "$sound_server_work/run" "$sound_server_work/home"
    chmod 700 "$sound_server_work/run"
    export HOME=$sound_server_work/home
    export XDG_RUNTIME_DIR=$sound_server_work/run
    export XDG_CONFIG_HOME=$sound_server_work/home/.config
    export PULSE_SERVER=unix:$sound_server_work/run/native
    cat > "$sound_server_work/alsa.conf" <<'ALSA'
pcm.!default { type pulse }
ctl.!default { type pulse }
ALSA
    export ALSA_CONFIG_PATH=$sound_server_work/alsa.conf
}

sound_server_start() {
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-target=stderr \
        -L "module-null-sink sink_name=cantilena_test rate=44100 channels=2 format=s16le" \
        -L "module-native-protocol-unix auth-anonymous=1 socket=$sound_server_work/run/native" \
        2>>"$sound_server_work/server.log" &
    sound_server_pid=$!
    local _
    for _ in $(seq 100); do
        pactl info >/dev/null 2>&1 && return 0
        if ! kill -0 "$sound_server_pid" 2>/dev/null; then
            cat "$sound_server_work/server.log" >&2
            echo "FAIL: the sound server did not start" >&2
            return 1
        fi
        sleep 0.1
    done
    cat "$sound_server_work/server.log" >&2
    echo "FAIL: the sound server does not answer" >&2
    return 1
}

# The recorder asks for 20 ms fragments: with its default ones the monitor
# drops the start of the stream, and with the player's fixed device calls
# the recording began at the song's first notes or after them.
sound_server_record() {
    parec --device=cantilena_test.monitor --format=s16le --rate=44100 --channels=2 --raw --latency-msec=20 "$1" &
    sound_recorder_pid=$!
    sleep 0.5
}

sound_server_stop() {
    if [ -n "$sound_recorder_pid" ]; then
        kill -INT "$sound_recorder_pid" 2>/dev/null || true
        wait "$sound_recorder_pid" 2>/dev/null || true
        sound_recorder_pid=""
    fi
    if [ -n "$sound_server_pid" ]; then
        kill -CONT "$sound_server_pid" 2>/dev/null || true
        kill "$sound_server_pid" 2>/dev/null || true
        # Not always our child (a server restarted by a test's action).
        wait "$sound_server_pid" 2>/dev/null || while kill -0 "$sound_server_pid" 2>/dev/null; do sleep 0.05; done
        sound_server_pid=""
    fi
    return 0
}
