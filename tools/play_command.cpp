// cantilena-tool play: plays an image file, a SONG.yaml or a MIDI file
// (compiled in memory) or the embedded song through the sound device, with the player's output
// ring, worker and device, so it sounds exactly as the player does. On a
// terminal a status line follows playback and keys steer it; off one it
// stops at the song's end.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "app/chatter.h"
#include "app/playback.h"
#include "tools/commands.h"
#include "tools/image_file.h"
#include "tools/midi_song.h"
#include "tools/play_session.h"
#include "tools/play_status.h"

namespace {

constexpr const char* kProgram = "cantilena-tool play";
constexpr const char* kRenderHint = "; `cantilena-tool render` writes the song to a file instead";
constexpr int64_t kStatusEveryMs = 100;
constexpr int kDefaultWidth = 80;
constexpr double kMaxFromSeconds = 24.0 * 3600.0;

struct PlayCommandOptions {
    std::string song;
    double from = 0.0;
    uint32_t seed = 0;
    bool seeded = false;
    bool loop = false;
    bool watch = false;
};

// SONG.yaml or a MIDI file: compiled first, and what --watch can watch.
bool is_song_source(const std::string& path)
{
    for (const std::string extension : {".yaml", ".yml"}) {
        if (path.size() > extension.size() &&
            path.compare(path.size() - extension.size(), extension.size(), extension) == 0) {
            return true;
        }
    }
    std::vector<uint8_t> bytes;
    std::string error;
    return !path.empty() && image_file_read(path, bytes, error) && is_midi_file(bytes);
}

// The song named on the command line; files gets what a SONG.yaml was
// compiled from. Returns null after saying what is wrong.
PlaySongPtr load_song(const PlayCommandOptions& options, std::vector<FileStamp>& files)
{
    if (is_song_source(options.song)) {
        Warnings warnings;
        try {
            PlaySongPtr song = play_song_compile(options.song, files, warnings);
            for (const std::string& line : warnings.lines)
                std::fprintf(stderr, "%s: warning: %s\n", kProgram, line.c_str());
            return song;
        } catch (const AuthorError& e) {
            for (const std::string& line : warnings.lines)
                std::fprintf(stderr, "%s: warning: %s\n", kProgram, line.c_str());
            std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
            return nullptr;
        }
    }
    SongImageFile file;
    std::string error;
    if (!song_image_open(options.song, file, error)) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        return nullptr;
    }
    // The embedded song and a program's appended song end where the player
    // ends them; any other is measured.
    const int64_t end = file.has_title ? static_cast<int64_t>(file.end_frames) : kEndUnknown;
    std::string name = file.has_title ? "\"" + file.title + "\"" : file.name;
    return play_song_make(std::move(file.bytes), std::move(name), end);
}

int terminal_width()
{
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col - 1;
    return kDefaultWidth;
}

void show_status(PlaySession& session)
{
    const std::string line = play_status_line(play_status(session), terminal_width());
    std::printf("\r%s\x1b[K", line.c_str());
    std::fflush(stdout);
}

Key read_key(void* context)
{
    return keyboard_read_key(*static_cast<Keyboard*>(context));
}

int64_t clock_ms(void*)
{
    return playback_clock_ms();
}

int run_play(const PlayCommandOptions& options)
{
    if (options.watch && !is_song_source(options.song)) {
        std::fprintf(stderr, "%s: --watch needs a SONG.yaml or a MIDI file to watch\n", kProgram);
        return 2;
    }
    if (!(options.from >= 0.0 && options.from <= kMaxFromSeconds)) {
        std::fprintf(stderr, "%s: --from must lie between 0 and %.0f seconds\n", kProgram, kMaxFromSeconds);
        return 2;
    }
    std::vector<FileStamp> files;
    const PlaySongPtr song = load_song(options, files);
    if (song == nullptr) return 1;

    // Kept for the life of the process: a device that hangs may hold the
    // output's worker, which still uses them, when the process ends.
    auto* output = new AudioOutput();
    auto* device = new PortAudioDevice();
    Playback playback{};
    playback_begin(playback, kProgram, *output, *device);
    const bool status_line = isatty(STDOUT_FILENO) != 0;

    PlayOptions play{};
    play.seed = PlaySeed{options.seeded, options.seed};
    play.from_frame = static_cast<uint64_t>(std::llround(options.from * kSampleRate));
    play.loop = options.loop;
    play.hold_at_end = playback.keyboard.reading;
    if (options.watch) play.watch_yaml = options.song;
    auto session = std::make_unique<PlaySession>();
    play_session_start(*session, *output, song, play, files, playback_clock_ms());

    // Ends the output (or the process, when the device holds the worker
    // fast) before anything it uses goes.
    const auto finish = [&](int status) {
        status = playback_end(playback, status);
        play_session_end(*session);
        delete device;
        delete output;
        return status;
    };
    playback_block_signals();
    const bool started = audio_open(*output, playback.device, play_feed_render, &session->feed);
    playback_unblock_signals();
    if (!started) {
        chatter_report("%s: no sound output (%s)%s\n", kProgram, output->error, kRenderHint);
        return finish(1);
    }
    const DeviceOpen opened = playback_wait_device(playback, kRenderHint);
    if (opened != DeviceOpen::ready) return finish(opened == DeviceOpen::failed ? 1 : 0);

    if (status_line) {
        std::printf("playing %s -- Esc or q quits, space pauses, left/right seek %u s, Home plays from the start%s\n",
                    song->name.c_str(), kSeekStepSeconds, options.watch ? "; saved changes play at once" : "");
    }
    const PlayHost host{&playback.keyboard, read_key, clock_ms};
    int64_t next_status = 0;
    PlayState state = PlayState::playing;
    while ((state = play_step(*session, host)) == PlayState::playing) {
        const int64_t now = playback_clock_ms();
        if (status_line && now >= next_status) {
            show_status(*session);
            next_status = now + kStatusEveryMs;
        }
        if (!play_seeking(*session)) keyboard_wait(playback.keyboard, static_cast<uint32_t>(kStatusEveryMs));
    }
    if (status_line) {
        show_status(*session);
        std::printf("\n");
    }
    if (state == PlayState::device_lost) playback_report_lost(playback);
    return finish(state == PlayState::device_lost ? 1 : 0);
}

}  // namespace

void add_play_command(CLI::App& app)
{
    auto options = std::make_shared<PlayCommandOptions>();
    auto* cmd = app.add_subcommand(
        "play",
        "Play a song image, a SONG.yaml, a MIDI file or the embedded song through the sound device, as the "
        "player does");
    cmd->add_option("SONG", options->song,
                    "Song image, SONG.yaml or MIDI file (compiled in memory, a MIDI file with the starter bank), or "
                    "a program that export wrote; default: the embedded song");
    cmd->add_option("--from", options->from, "Start this many seconds into the song");
    cmd->add_option("--seed", options->seed,
                    "Fix the engine's random seed, so that playback is the same bits as `render --seed`");
    cmd->add_flag("--loop", options->loop, "Play the song again from the start whenever it ends");
    cmd->add_flag("--watch", options->watch,
                  "Recompile the song whenever SONG.yaml, its MIDI file or a patch file is saved, and go on with "
                  "the new song from the same place");
    cmd->footer(
        "Keys on a terminal: Esc or q quits, space pauses, left/right seek 10 s back and forth, Home plays from the "
        "start.\nThe embedded song ends after 198 s as the player's, an exported program's song where export measured "
        "its end; any other song once its last event has passed "
        "and its sound has stayed below -90 dBFS for a second (at most 30 s after the last event). On a terminal "
        "the end waits for a key; off one, playback stops there.");
    cmd->callback([options, cmd] {
        options->seeded = cmd->count("--seed") > 0;
        const int status = run_play(*options);
        if (status != 0) throw CLI::RuntimeError(status);
    });
}
