#include "app/player_app.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/chatter.h"
#include "app/console.h"
#include "app/main_loop.h"
#include "app/playback.h"
#include "app/render_load.h"
#include "sequencer/player.h"
#include "sequencer/song_end.h"
#include "sequencer/song_info.h"
#include "synth/engine.h"
#include "synth/seed_source.h"
#include "synth/workers.h"

namespace {

constexpr const char* kVersion = "cantilena 0.1";
constexpr const char* kRenderHint = "; `cantilena-tool render` writes the song to a file instead";

// One static instance of each: nothing is allocated once playback runs.
SynthEngine g_engine;
Player g_player;
AudioOutput g_output;
PortAudioDevice g_device;

struct Session {
    Player* player;
    Playback* playback;
};

int16_t session_escape_state(void* context)
{
    return keyboard_escape_state(static_cast<Session*>(context)->playback->keyboard);
}

void session_wait_ms(void* context, uint32_t ms)
{
    keyboard_wait(static_cast<Session*>(context)->playback->keyboard, ms);
}

int32_t session_position_ms(void* context)
{
    return player_position_ms(*static_cast<Session*>(context)->player);
}

int64_t session_clock_ms(void*)
{
    return playback_clock_ms();
}

uint32_t session_frames_taken(void* context)
{
    return audio_frames_taken(*static_cast<Session*>(context)->playback->output);
}

void print_usage()
{
    std::printf(
        "usage: cantilena [--info]\n"
        "Plays the song it carries on the default sound device; Esc stops it.\n"
        "--info prints the structure of the song instead, as `cantilena-tool info` does.\n"
        "CANTILENA_SEED=N in the environment makes playback repeat bit for bit.\n"
        "`cantilena-tool render` writes the song to a WAV or FLAC file.\n");
}

void write_stdout(void*, const char* text, size_t length)
{
    std::fwrite(text, 1, length, stdout);
}

int print_info(const PlayerSong& song)
{
    const SongInfoSubject subject{song.image, song.size, song.what, song.title, song.end_frames};
    song_info_write(subject, write_stdout, nullptr);
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "cantilena: cannot write to standard output\n");
        return 1;
    }
    return 0;
}

}  // namespace

int cantilena_main(int argc, char** argv, const CarriedSong& carried)
{
    bool info = false;
    if (argc > 1) {
        if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
            print_usage();
            return 0;
        }
        if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
            std::printf("%s\n", kVersion);
            return 0;
        }
        info = std::strcmp(argv[1], "--info") == 0;
        if (!info || argc > 2) {
            std::fprintf(stderr, "cantilena: unexpected argument '%s': the player takes only --info (see --help)\n",
                         argv[info ? 2 : 1]);
            return 2;
        }
    }
    if (const char* text = std::getenv("CANTILENA_SEED"); text != nullptr && !info) {
        uint32_t seed = 0;
        if (!seed_source_parse(text, seed)) {
            std::fprintf(stderr, "cantilena: CANTILENA_SEED='%s' is not a number from 0 to 4294967295\n", text);
            return 2;
        }
        seed_source_fix(g_engine.seeds, seed);
    }
    static PlayerSong song;
    char error[256];
    if (!own_song_find(kOwnProgramPath, carried, song, error, sizeof error)) {
        std::fprintf(stderr, "cantilena: %s\n", error);
        return 1;
    }
    if (info) return print_info(song);
    // The refill worker renders with one extra thread at most, where there is
    // a second core, and only while the song needs it.
    static RenderLoad load;
    render_load_setup(load, g_engine, synth_workers_create(synth_machine_cores() > 1 ? 2 : 1));

    Playback playback{};
    playback_begin(playback, "cantilena", g_output, g_device);
    render_load_wrap(load, playback.player_output);
    playback_block_signals();
    const bool ready = player_init(g_player, g_engine, song.image, &playback.player_output);
    playback_unblock_signals();
    if (!g_player.song_loaded) {
        chatter_report("cantilena: the song it carries does not load\n");
        return playback_end(playback, 1);
    }
    if (!ready) {
        chatter_report("cantilena: no sound output (%s)%s\n", g_output.error, kRenderHint);
        return playback_end(playback, 1);
    }
    const DeviceOpen opened = playback_wait_device(playback, kRenderHint);
    if (opened != DeviceOpen::ready) return playback_end(playback, opened == DeviceOpen::failed ? 1 : 0);
    player_start(g_player);

    con_printf("Cantilena -- playing \"%s\". Press Esc to stop.\n", song.title);
    std::fflush(stdout);

    Session session{&g_player, &playback};
    const MainLoopHost host{&session,
                            session_escape_state,
                            session_wait_ms,
                            session_position_ms,
                            session_clock_ms,
                            session_frames_taken,
                            song_end_ms(song.end_frames)};
    if (main_loop(host) == MainLoopEnd::device_lost) {
        playback_report_lost(playback);
        return playback_end(playback, 1);
    }
    return playback_end(playback, 0);
}
