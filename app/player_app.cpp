#include "app/player_app.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <cstring>
#include <ctime>
#include <pthread.h>

#include "app/console.h"
#include "app/keyboard.h"
#include "app/main_loop.h"
#include "audio/audio_output.h"
#include "audio/portaudio_device.h"
#include "sequencer/player.h"
#include "synth/engine.h"
#include "synth/seed_source.h"

const char kSongName[] = "\"Lanterns on the Water\"";

namespace {

constexpr const char* kVersion = "cantilena 0.1";

// One static instance of each: nothing is allocated once playback runs.
SynthEngine g_engine;
Player g_player;
AudioOutput g_output;
PortAudioDevice g_device;

struct Session {
    Player* player;
    Keyboard* keyboard;
};

int16_t session_escape_state(void* context)
{
    return keyboard_escape_state(*static_cast<Session*>(context)->keyboard);
}

void session_sleep_ms(void*, uint32_t ms)
{
    timespec wait{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    nanosleep(&wait, nullptr);  // a signal may cut it short; the key test follows at once
}

void session_wake(void* context)
{
    player_wake(*static_cast<Session*>(context)->player);
}

int32_t session_position_ms(void* context)
{
    return player_position_ms(*static_cast<Session*>(context)->player);
}

void print_usage()
{
    std::printf(
        "usage: cantilena\n"
        "Plays the song it carries on the default sound device; Esc stops it.\n"
        "Takes no arguments. CANTILENA_SEED=N in the environment makes playback repeat bit for bit.\n"
        "`cantilena-tool render` writes the song to a WAV or FLAC file.\n");
}

// The stop signals wait while the audio threads are made, so that they
// inherit a mask with them blocked and only the main thread takes them.
void block_stop_signals(int how)
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) sigaddset(&set, signal_number);
    pthread_sigmask(how, &set, nullptr);
}

bool read_seed(const char* text, uint32_t& seed)
{
    if (text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFull) return false;
    seed = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

int cantilena_main(int argc, char** argv, const uint8_t* song_image)
{
    if (argc > 1) {
        if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
            print_usage();
            return 0;
        }
        if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
            std::printf("%s\n", kVersion);
            return 0;
        }
        std::fprintf(stderr, "cantilena: unexpected argument '%s': the player takes none (see --help)\n", argv[1]);
        return 2;
    }
    if (const char* text = std::getenv("CANTILENA_SEED"); text != nullptr) {
        uint32_t seed = 0;
        if (!read_seed(text, seed)) {
            std::fprintf(stderr, "cantilena: CANTILENA_SEED='%s' is not a number from 0 to 4294967295\n", text);
            return 2;
        }
        seed_source_fix(g_engine.seeds, seed);
    }

    keyboard_catch_signals();
    SoundDevice device = portaudio_device(g_device);
    AudioBinding binding{&g_output, &device};
    const PlayerOutput output = audio_player_output(binding);

    block_stop_signals(SIG_BLOCK);
    const int32_t ready = player_init(g_player, g_engine, song_image, &output);
    block_stop_signals(SIG_UNBLOCK);
    if (ready == 0) {
        if (g_player.song_loaded == 0) {
            std::fprintf(stderr, "cantilena: the song it carries does not load\n");
        } else {
            std::fprintf(stderr,
                         "cantilena: no sound output (%s); `cantilena-tool render` writes the song to a file "
                         "instead\n",
                         portaudio_device_error(g_device));
        }
        player_close(g_player);
        return 1;
    }
    player_start(g_player);

    Keyboard keyboard{};
    keyboard_open(keyboard, 0);
    con_printf("Cantilena -- playing %s. Press Esc to stop.\n", kSongName);
    std::fflush(stdout);

    Session session{&g_player, &keyboard};
    const MainLoopHost host{&session, session_escape_state, session_sleep_ms, session_wake, session_position_ms};
    const int32_t status = main_loop(host);

    keyboard_close(keyboard);
    player_close(g_player);
    return status;
}
