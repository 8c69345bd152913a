// Shared pieces of the sequencer tests: recording the streams a player hands
// over, and songs built for the tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "sequencer/player.h"
#include "synth/engine.h"
#include "synth/seed_source.h"
#include "tests/support/image_builder.h"

using Frames = std::vector<float>;  // interleaved stereo

struct RecordedStream {
    uint32_t tick;
    uint32_t frame;  // sample counter when the stream was handed over
    std::vector<uint8_t> bytes;

    bool operator==(const RecordedStream&) const = default;
};

struct StreamRecorder {
    const SequencerState* seq = nullptr;
    std::vector<RecordedStream> streams;

    static void observe(void* context, uint32_t tick, const uint8_t* stream, size_t length)
    {
        auto& recorder = *static_cast<StreamRecorder*>(context);
        recorder.streams.push_back({tick, recorder.seq->sample_counter, std::vector<uint8_t>(stream, stream + length)});
    }

    void attach(SequencerState& state)
    {
        seq = &state;
        state.observer = observe;
        state.observer_context = this;
    }
};

// The streams of a song and their frames, from a run of the transport
// without an engine in chunks of the given frame counts, taken in turn.
inline std::vector<RecordedStream> dry_streams(const std::vector<uint8_t>& image,
                                               std::vector<uint32_t> chunks = {1u << 20})
{
    auto player = std::make_unique<Player>();
    EXPECT_TRUE(player_init_dry(*player, image.data()));
    StreamRecorder recorder;
    recorder.attach(player->seq);
    player_start(*player);
    for (size_t i = 0; player->seq.running && i < 10000000; ++i)
        player_render(player.get(), nullptr, chunks[i % chunks.size()]);
    return recorder.streams;
}

// A player on an image, offline, started; records every stream it hands over.
struct Rig {
    std::vector<uint8_t> image;
    std::unique_ptr<SynthEngine> engine = std::make_unique<SynthEngine>();
    std::unique_ptr<Player> player = std::make_unique<Player>();
    StreamRecorder recorder;
    uint32_t start_frame = 0;

    explicit Rig(std::vector<uint8_t> bytes, uint32_t seed = 1, bool start = true) : image(std::move(bytes))
    {
        seed_source_fix(engine->seeds, seed);
        EXPECT_TRUE(player_init(*player, *engine, image.data(), nullptr));
        recorder.attach(player->seq);
        if (start) this->start();
    }

    void start() { start_frame = player_start(*player) / 4; }

    // Renders count frames in chunks of the given sizes, taken in turn.
    Frames render(uint32_t count, std::vector<uint32_t> chunks = {16384})
    {
        Frames out(2 * static_cast<size_t>(count), -9.0f);
        uint32_t done = 0;
        for (size_t i = 0; done < count; ++i) {
            const uint32_t n = std::min(chunks[i % chunks.size()], count - done);
            player_render(player.get(), out.data() + 2 * static_cast<size_t>(done), n);
            done += n;
        }
        return out;
    }
};

// A scheduler on a loaded image, without an engine: streams go to the recorder.
struct SchedulerRun {
    std::vector<uint8_t> image;
    std::unique_ptr<SequencerState> seq = std::make_unique<SequencerState>();
    StreamRecorder recorder;

    explicit SchedulerRun(std::vector<uint8_t> bytes) : image(std::move(bytes))
    {
        song_load(image.data(), seq->tables);
        recorder.attach(*seq);
        seq_reset(*seq);
        seq->running = 1;
    }

    // Emits until the song ends (at most limit calls).
    std::vector<RecordedStream>& run(size_t limit = 100000)
    {
        for (size_t i = 0; i < limit && seq->running; ++i) seq_emit_events(*seq);
        return recorder.streams;
    }
};

// A song of a few channels on the test bank: notes, programs, controllers,
// a tempo change; long enough to cross many engine blocks.
inline image_builder::SongPlan busy_song(uint32_t bars = 4)
{
    using namespace image_builder;
    SongPlan song;
    song.tempos.push_back({0, 371519});
    song.tempos.push_back({2 * 512, 402000});
    const uint8_t programs[4] = {0, 1, 2, 3};
    for (int c = 0; c < 4; ++c) {
        ChannelPlan& channel = song.channels[c];
        channel.programs.push_back({0, programs[c]});
        channel.controllers[6].push_back({1, static_cast<uint8_t>(90 + 10 * c)});
        for (uint32_t beat = 0; beat < bars * 4; ++beat) {
            const uint32_t tick = beat * 128 + 17 * static_cast<uint32_t>(c);
            const uint8_t note = static_cast<uint8_t>(48 + 7 * c + (beat * 5) % 12);
            channel.notes.push_back({tick, note, static_cast<uint8_t>(70 + beat % 40)});
            channel.notes.push_back({tick + 90, note, 0});
        }
    }
    return song;
}
