#include "sequencer/song_end.h"

#include <cmath>

#include "sequencer/player.h"
#include "sequencer/scheduler.h"
#include "sequencer/song_walk.h"
#include "synth/engine.h"

namespace {

constexpr uint32_t kMeasureChunkFrames = 4096;

void note_last_event(void* context, uint32_t tick, uint64_t frame, const uint8_t*, size_t)
{
    // A song without events hands over one empty stream at the "no event" tick.
    auto& last = *static_cast<SongLastEvent*>(context);
    last.tick = tick == kNoEventTick ? 0 : tick;
    last.frame = frame;
}

bool quiet(const float* frame)
{
    return std::fabs(frame[0]) < kSongEndQuietLevel && std::fabs(frame[1]) < kSongEndQuietLevel;
}

struct Measurement {
    Player player;
    SongEndProgress progress;
    void* progress_context;
    uint64_t done;  // frames rendered since player_start
    uint64_t most;
    float frames[2 * kMeasureChunkFrames];

    // Renders the next chunk, ending at frame until at the latest; returns its frame count.
    uint32_t render(uint64_t until)
    {
        const uint64_t left = until - done;
        const uint32_t count = left < kMeasureChunkFrames ? static_cast<uint32_t>(left) : kMeasureChunkFrames;
        player_render(&player, frames, count);
        done += count;
        if (progress) progress(progress_context, done, most);
        return count;
    }
};

uint64_t measure(Measurement& m, uint64_t last_event_frame)
{
    // Up to the last events nothing can end the song: render without listening.
    while (m.done < last_event_frame) m.render(last_event_frame);
    uint32_t quiet_run = 0;
    while (m.done < m.most) {
        const uint64_t chunk_start = m.done;
        const uint32_t count = m.render(m.most);
        for (uint32_t i = 0; i < count; ++i) {
            quiet_run = quiet(m.frames + 2 * i) ? quiet_run + 1 : 0;
            if (quiet_run == kSongEndQuietFrames) return chunk_start + i + 1;
        }
    }
    return m.most;
}

}  // namespace

int32_t song_end_ms(uint64_t end_frames)
{
    constexpr uint64_t kLongest = (static_cast<uint64_t>(INT32_MAX) * kSampleRate) / 1000;
    if (end_frames > kLongest) return INT32_MAX;
    return static_cast<int32_t>((end_frames * 1000 + kSampleRate - 1) / kSampleRate);
}

bool song_find_last_event(const uint8_t* image, SongLastEvent& last)
{
    last = SongLastEvent{0, 0};
    return song_walk(image, note_last_event, &last);
}

bool song_measure_end(const uint8_t* image, SynthEngine& engine, SongEnd& end, SongEndProgress progress,
                      void* progress_context)
{
    SongLastEvent last;
    if (!song_find_last_event(image, last)) return false;

    const SeedSource caller_seeds = engine.seeds;
    seed_source_fix(engine.seeds, kSongEndSeed);
    Measurement m{};
    m.progress = progress;
    m.progress_context = progress_context;
    m.most = last.frame + kSongEndMaxTailFrames;
    const bool loaded = player_init(m.player, engine, image, nullptr);
    if (loaded) {
        player_start(m.player);
        end.last_event_frame = last.frame;
        end.end_frame = measure(m, last.frame);
    }
    engine.seeds = caller_seeds;
    return loaded;
}
