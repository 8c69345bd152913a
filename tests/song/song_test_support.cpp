#include "tests/song/song_test_support.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "data/embedded_song.h"
#include "sequencer/player.h"
#include "synth/engine.h"
#include "synth/seed_source.h"
#include "tools/song_reader.h"
#include "tools/song_writer.h"
#include "tools/wav_writer.h"

namespace song_test {

namespace {

constexpr double kFullScale = 32768.0;
constexpr int16_t kClamp = 32600;
constexpr uint32_t kBlockFrames = 128;

struct WatchContext {
    const StreamWatch* watch;
    const SynthEngine* engine;
};

void forward_stream(void* context, uint32_t tick, const uint8_t* stream, size_t length)
{
    const WatchContext& watch = *static_cast<WatchContext*>(context);
    (*watch.watch)(tick, stream, length, *watch.engine);
}

double dbfs(double level)
{
    return 20.0 * std::log10(std::max(level, 1e-12));
}

size_t frame_at(double seconds, size_t frames)
{
    return std::min(frames, static_cast<size_t>(std::max(0.0, seconds) * kFrameRate));
}

}  // namespace

std::vector<uint8_t> embedded_image()
{
    return {kEmbeddedSong, kEmbeddedSong + kEmbeddedSongSize};
}

Render render_song(const std::vector<uint8_t>& image, double seconds, const StreamWatch& on_stream,
                   const BlockWatch& on_block)
{
    auto engine = std::make_unique<SynthEngine>();
    seed_source_fix(engine->seeds, kSeed);
    auto player = std::make_unique<Player>();
    Render render;
    if (!player_init(*player, *engine, image.data(), nullptr)) return render;
    WatchContext context{&on_stream, engine.get()};
    if (on_stream) {
        player->seq.observer = forward_stream;
        player->seq.observer_context = &context;
    }
    player_start(*player);

    const uint64_t total = static_cast<uint64_t>(seconds * kFrameRate);
    // Block-sized calls when the blocks are watched: each call then completes one engine block.
    const uint32_t chunk = on_block ? kBlockFrames : 16384;
    std::vector<float> frames(2 * static_cast<size_t>(chunk));
    render.samples.reserve(2 * total);
    for (uint64_t done = 0; done < total;) {
        const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(chunk, total - done));
        player_render(player.get(), frames.data(), count);
        for (size_t i = 0; i < 2 * static_cast<size_t>(count); ++i)
            render.samples.push_back(pcm16_from_float(frames[i]));
        done += count;
        if (on_block) on_block(*engine, done);
    }
    player_close(*player);
    return render;
}

std::vector<uint8_t> image_with_channel(const std::vector<uint8_t>& image, int channel)
{
    SongData song = song_read_image(image.data(), image.size(), "song");
    for (int c = 0; c < kSongChannels; ++c)
        if (c != channel) song.channels[static_cast<size_t>(c)] = ChannelEvents{};
    return song_write_image(song);
}

double tick_seconds(const SongData& song, uint32_t tick)
{
    double seconds = 0.0;
    uint32_t at = 0;
    uint32_t tempo = kDefaultTempoWord;
    for (const GlobalEvent& event : song.globals) {
        if (event.tick >= tick) break;
        seconds += static_cast<double>(event.tick - at) * tempo / song.ticks_per_quarter / 1e6;
        at = event.tick;
        tempo = event.tempo;
    }
    return seconds + static_cast<double>(tick - at) * tempo / song.ticks_per_quarter / 1e6;
}

std::vector<NoteSpan> note_spans(const SongData& song, int channel)
{
    std::vector<NoteSpan> spans;
    std::vector<NoteSpan> open;
    for (const NoteEvent& event : song.channels[static_cast<size_t>(channel)].notes) {
        const double at = tick_seconds(song, event.tick);
        if (event.velocity != 0) {
            open.push_back(NoteSpan{at, at, event.note});
            continue;
        }
        const auto match =
            std::find_if(open.begin(), open.end(), [&](const NoteSpan& n) { return n.key == event.note; });
        if (match == open.end()) continue;
        spans.push_back(NoteSpan{match->start, at, match->key});
        open.erase(match);
    }
    std::sort(spans.begin(), spans.end(), [](const NoteSpan& a, const NoteSpan& b) { return a.start < b.start; });
    return spans;
}

double rms_dbfs(const Render& render, double from, double to)
{
    const size_t first = frame_at(from, render.frames());
    const size_t last = frame_at(to, render.frames());
    if (last <= first) return dbfs(0.0);
    double sum = 0.0;
    for (size_t i = 2 * first; i < 2 * last; ++i) sum += static_cast<double>(render.samples[i]) * render.samples[i];
    return dbfs(std::sqrt(sum / (2.0 * static_cast<double>(last - first))) / kFullScale);
}

double dc_dbfs(const Render& render)
{
    double left = 0.0;
    double right = 0.0;
    for (size_t i = 0; i < render.frames(); ++i) {
        left += render.samples[2 * i];
        right += render.samples[2 * i + 1];
    }
    const double frames = static_cast<double>(std::max<size_t>(render.frames(), 1));
    return dbfs(std::max(std::fabs(left), std::fabs(right)) / frames / kFullScale);
}

double clamp_share(const Render& render)
{
    const size_t clamped = static_cast<size_t>(std::count_if(render.samples.begin(), render.samples.end(),
                                                             [](int16_t s) { return s >= kClamp || s <= -kClamp; }));
    return static_cast<double>(clamped) / static_cast<double>(std::max<size_t>(render.samples.size(), 1));
}

double longest_quiet(const Render& render, double from, double to, double window, double threshold_dbfs)
{
    double longest = 0.0;
    double run = 0.0;
    for (double at = from; at + window <= to; at += window) {
        if (rms_dbfs(render, at, at + window) < threshold_dbfs) {
            run += window;
            longest = std::max(longest, run);
        } else {
            run = 0.0;
        }
    }
    return longest;
}

}  // namespace song_test
