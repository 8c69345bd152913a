// cantilena-tool render: plays a song offline exactly as the player does
// (player_init without an output, player_start, then the render callback in
// device-sized chunks) and writes the frames to a WAV or FLAC file.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sequencer/player.h"
#include "sequencer/song_end.h"
#include "synth/engine.h"
#include "synth/seed_source.h"
#include "synth/workers.h"
#include "tools/commands.h"
#include "tools/image_file.h"
#include "tools/wav_writer.h"

namespace {

constexpr double kDefaultSeconds = kPlayerStopSeconds;  // what the player plays
constexpr double kMaxSeconds = 24.0 * 3600.0;
constexpr uint32_t kChunkFrames = 16384;  // the largest block the sound output asks for

struct RenderOptions {
    std::string image;
    std::string output;
    double seconds = kDefaultSeconds;
    uint32_t seed = 0;
    bool seeded = false;
    int threads = synth_machine_cores();
    std::string format = "pcm16";
};

void show_progress(uint64_t done, uint64_t total)
{
    const int width = 40;
    const double part = total ? static_cast<double>(done) / static_cast<double>(total) : 1.0;
    const int filled = static_cast<int>(part * width);
    std::fprintf(stderr, "\rrendering [%-*s] %3d%%  %.1f / %.1f s", width, std::string(filled, '#').c_str(),
                 static_cast<int>(part * 100.0), static_cast<double>(done) / kSampleRate,
                 static_cast<double>(total) / kSampleRate);
    std::fflush(stderr);
}

void run_render(const RenderOptions& options)
{
    std::string error;
    SongImageFile image;
    if (!song_image_open(options.image, image, error)) throw AuthorError("", error);
    if (!(options.seconds >= 0.0 && options.seconds <= kMaxSeconds))
        throw AuthorError("--seconds", "must lie between 0 and " + std::to_string(static_cast<int>(kMaxSeconds)));
    const uint64_t total = static_cast<uint64_t>(std::llround(options.seconds * kSampleRate));

    WavWriter writer;
    const SampleFormat format = options.format == "float" ? SampleFormat::Float : SampleFormat::Pcm16;
    wav_writer_open(writer, options.output, format, kSampleRate, total, file_identities({options.image}));

    auto engine = std::make_unique<SynthEngine>();
    if (options.seeded) seed_source_fix(engine->seeds, options.seed);
    // The channels on this many threads; the bits are the same on any number.
    const std::unique_ptr<SynthWorkers, void (*)(SynthWorkers*)> workers(synth_workers_create(options.threads),
                                                                         synth_workers_destroy);
    synth_attach_workers(*engine, workers.get());
    auto player = std::make_unique<Player>();
    if (!player_init(*player, *engine, image.bytes.data(), nullptr))
        throw AuthorError(image.name, "the song does not load");
    player_start(*player);

    const bool progress = isatty(STDERR_FILENO) != 0;
    std::vector<float> frames(2 * static_cast<size_t>(kChunkFrames));
    uint64_t done = 0;
    uint64_t last_shown = 0;
    while (done < total) {
        const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(kChunkFrames, total - done));
        player_render(player.get(), frames.data(), count);
        try {
            wav_writer_write(writer, frames.data(), count);
        } catch (const AuthorError&) {
            if (progress) std::fputc('\n', stderr);
            throw;
        }
        done += count;
        if (progress && (done - last_shown >= kSampleRate || done == total)) {
            show_progress(done, total);
            last_shown = done;
        }
    }
    if (progress) std::fputc('\n', stderr);
    wav_writer_finish(writer);
}

}  // namespace

void add_render_command(CLI::App& app)
{
    auto options = std::make_shared<RenderOptions>();
    auto* cmd =
        app.add_subcommand("render", "Render a song image to a WAV or FLAC file, exactly as the player plays it");
    cmd->add_option("IMAGE", options->image, "Song image file (default: the embedded song)");
    cmd->add_option(
           "-o,--output", options->output,
           "Output file: .wav or .flac, or - for WAV on standard output (replaced only when the render is complete)")
        ->required();
    cmd->add_option("--seconds", options->seconds, "Length to render in seconds (default 198, what the player plays)");
    cmd->add_option("--seed", options->seed,
                    "Fix the engine's random seed so that the output is the same bits on every run");
    cmd->add_option("--threads", options->threads,
                    "Render the channels on this many threads (default: the machine's cores); the output is the "
                    "same bits on any number")
        ->check(CLI::Range(1, kMaxWorkerThreads + 1));
    cmd->add_option("--format", options->format,
                    "Sample format: pcm16 (as the sound output) or float (the engine's frames)")
        ->check(CLI::IsMember({"pcm16", "float"}));
    cmd->callback([options, cmd] {
        options->seeded = cmd->count("--seed") > 0;
        try {
            run_render(*options);
        } catch (const AuthorError& e) {
            std::fprintf(stderr, "cantilena-tool render: %s\n", e.what());
            throw CLI::RuntimeError(1);
        }
    });
}
