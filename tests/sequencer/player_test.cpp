#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "tests/sequencer/sequencer_test_support.h"

using namespace image_builder;

namespace {

// Frames from the start to a tick, exactly: the integral of the tempo over
// the ticks, divided by the tick divisor, rounded down.
uint64_t exact_frame(const SongPlan& song, uint32_t tick)
{
    unsigned __int128 sum = 0;
    uint32_t tempo = 220500000u;
    uint32_t from = 0;
    for (const TempoEvent& change : song.tempos) {
        if (change.tick > tick) break;
        sum += static_cast<unsigned __int128>(change.tick - from) * tempo;
        from = change.tick;
        tempo = change.us_per_quarter * 441u;
    }
    sum += static_cast<unsigned __int128>(tick - from) * tempo;
    return static_cast<uint64_t>(sum / (song.ticks_per_quarter * 10000u));
}

// A bank of four plain patches without noise or sample-and-hold: what they
// play does not depend on the seed.
std::vector<uint8_t> seedless_bank()
{
    BankBuilder bank;
    for (uint8_t mode : {1, 2, 3, 1}) {
        PatchBuilder patch = basic_patch();
        patch.oscillator(0, {.mode = mode, .colour = 40, .gain = 90})
            .envelope(0, {.decay = 40, .sustain = 90, .release = 50});
        bank.add(patch);
    }
    return bank.bytes();
}

bool silent(const Frames& frames)
{
    return std::all_of(frames.begin(), frames.end(), [](float x) { return x == 0.0f; });
}

}  // namespace

TEST(Player, CarriedRemaindersKeepALongSongInStepWithExactTiming)
{
    SongPlan song;
    song.ticks_per_quarter = 97;
    uint32_t random = 1;
    uint32_t tick = 0;
    for (int i = 0; i < 20; ++i) {
        song.tempos.push_back({tick, 300001u + 23459u * static_cast<uint32_t>(i)});
        for (int k = 0; k < 300; ++k) {
            random = random * 1103515245u + 12345u;
            song.channels[i % 3].notes.push_back({tick, 60, static_cast<uint8_t>(k % 2 ? 0 : 90)});
            tick += 1 + (random >> 16) % 37;
        }
    }
    const auto image = build_song_image(song);
    for (auto chunks :
         {std::vector<uint32_t>{40, 48, 40, 48, 48}, std::vector<uint32_t>{1, 7, 3000}, std::vector<uint32_t>{16384}}) {
        const auto streams = dry_streams(image, chunks);
        ASSERT_GT(streams.size(), 5000u);
        for (const RecordedStream& stream : streams)
            ASSERT_EQ(stream.frame, exact_frame(song, stream.tick)) << "tick " << stream.tick;
    }
}

TEST(Player, ABlockEndingOnAnEventTickDeliversTheEventBeforeTheNextFrame)
{
    const auto image = build_song_image(busy_song(1));
    const auto streams = dry_streams(image);
    const uint32_t event_frame = streams[5].frame;
    ASSERT_GT(event_frame, 0u);

    Rig whole(image, 9);
    const Frames one_call = whole.render(event_frame + 3000);
    Rig split(image, 9);
    const Frames two_calls = split.render(event_frame + 3000, {event_frame, 3000});
    EXPECT_TRUE(one_call == two_calls);
    EXPECT_EQ(split.recorder.streams, whole.recorder.streams);
    EXPECT_EQ(split.recorder.streams[5].frame, event_frame);
}

TEST(Player, PlaysExactlyAsTheEngineDrivenByHandWithTheSameStreamsAtTheSameFrames)
{
    SongPlan song = busy_song(2);
    const auto image = build_song_image(song);
    const auto streams = dry_streams(image);
    const uint32_t total = streams.back().frame + 3 * 44100;  // on past the song's end

    Rig rig(image, 3);
    const Frames played = rig.render(total, {48, 40, 1, 127, 129, 3000, 7});
    EXPECT_EQ(rig.player->seq.running, 0u);
    EXPECT_EQ(rig.player->seq.muted, 0u);

    // The player resets the engine twice (at init and at start), reading seeds each time.
    auto engine = std::make_unique<SynthEngine>();
    seed_source_fix(engine->seeds, 3);
    SongTables tables{};
    song_load(image.data(), tables);
    for (int reset = 0; reset < 2; ++reset) {
        synth_init(*engine, tables.patch_bank, 44100);
        synth_set_globals(*engine, tables.global_block);
        speech_set_texts(engine->speech, tables.speech_texts);
    }
    Frames by_hand(2 * static_cast<size_t>(total));
    uint32_t at = 0;
    for (const RecordedStream& stream : streams) {
        if (stream.frame > at)
            synth_render(*engine, by_hand.data() + 2 * at, static_cast<int32_t>(stream.frame - at), nullptr, 0);
        at = stream.frame;
        synth_process_stream(*engine, stream.bytes.data());
    }
    synth_render(*engine, by_hand.data() + 2 * at, static_cast<int32_t>(total - at), nullptr, 0);

    ASSERT_FALSE(silent(Frames(played.end() - 2 * 44100, played.end())));  // tails after the last event
    EXPECT_TRUE(played == by_hand);
}

TEST(Player, AZeroFrameRequestDoesNothingAndMutedOutputIsSilentWhileTheCounterAndPositionAdvance)
{
    Rig started(build_song_image(busy_song(1)));
    player_render(started.player.get(), nullptr, 0);
    EXPECT_EQ(started.player->seq.sample_counter, 0u);
    EXPECT_TRUE(started.recorder.streams.empty());
    started.render(1);
    ASSERT_FALSE(started.recorder.streams.empty());
    EXPECT_EQ(started.recorder.streams[0].frame, 0u);  // the tick-0 events sound from the first frame

    Rig rig(build_song_image(busy_song(1)), 1, false);
    EXPECT_TRUE(silent(rig.render(1000, {300})));
    EXPECT_EQ(rig.player->seq.sample_counter, 1000u);
    EXPECT_TRUE(rig.recorder.streams.empty());

    rig.start();
    EXPECT_EQ(rig.start_frame, 1000u);
    EXPECT_EQ(player_position_ms(*rig.player), 0);  // offline, the position counts the frames since the start
    EXPECT_FALSE(silent(rig.render(20000)));
    EXPECT_EQ(player_position_ms(*rig.player), 453);  // 453.5 ms, rounded down
    player_stop(*rig.player);
    const size_t streams = rig.recorder.streams.size();
    EXPECT_TRUE(silent(rig.render(5000)));
    EXPECT_EQ(rig.player->seq.sample_counter, 26000u);
    EXPECT_EQ(rig.recorder.streams.size(), streams);
}

TEST(Player, ARestartPlaysTheSongAgainFromItsStart)
{
    SongPlan song = busy_song(1);
    song.patch_bank = seedless_bank();
    const auto image = build_song_image(song);
    const Frames fresh = Rig(image).render(30000);

    Rig stopped(image);
    stopped.render(12345);
    player_stop(*stopped.player);
    stopped.render(100);
    stopped.start();
    EXPECT_TRUE(stopped.render(30000) == fresh);

    // After the song's end the countdown is "no event"; a restart makes the tick-0 events due at once.
    Rig ended(image);
    const uint32_t length = dry_streams(image).back().frame + 1;
    ended.render(length + 500);
    ASSERT_EQ(ended.player->seq.running, 0u);
    const auto first_run = ended.recorder.streams;
    ended.recorder.streams.clear();
    ended.start();
    EXPECT_TRUE(ended.render(30000) == fresh);
    ended.render(length);
    for (RecordedStream& stream : ended.recorder.streams) stream.frame -= ended.start_frame;
    EXPECT_EQ(ended.recorder.streams, first_run);
}

TEST(Player, FixedSeedRendersAreBitIdenticalAndOtherSeedsDiffer)
{
    const auto image = build_song_image(busy_song(1));
    const Frames a = Rig(image, 77).render(44100);
    EXPECT_TRUE(Rig(image, 77).render(44100) == a);
    EXPECT_FALSE(Rig(image, 78).render(44100) == a);  // the noise drum takes its seed from the seed source

    // Each engine has its own seed source: another engine set up in between
    // takes nothing from it.
    Rig first(image, 77, false);
    Rig second(image, 78, false);
    first.start();
    second.start();
    EXPECT_TRUE(first.render(44100) == a);
}

namespace {

// A stand-in for the sound output: records what the transport asks of it.
struct FakeOutput {
    bool open_result = true;
    RenderCallback callback = nullptr;
    void* callback_context = nullptr;
    float gain = 0.0f;
    int32_t played = -65536;
    int locks = 0;
    int unlocks = 0;
    int wakes = 0;
    int closes = 0;
    PlayerOutput output{
        this,
        [](void* c, RenderCallback callback, void* context) {
            auto& self = *static_cast<FakeOutput*>(c);
            self.callback = callback;
            self.callback_context = context;
            return self.open_result;
        },
        [](void* c) { ++static_cast<FakeOutput*>(c)->closes; },
        [](void* c) { ++static_cast<FakeOutput*>(c)->wakes; },
        [](void* c, float gain) { static_cast<FakeOutput*>(c)->gain = gain; },
        [](void* c) { return static_cast<FakeOutput*>(c)->played; },
        [](void* c) { ++static_cast<FakeOutput*>(c)->locks; },
        [](void* c) { ++static_cast<FakeOutput*>(c)->unlocks; },
    };
};

}  // namespace

TEST(Player, WithAnOutputTheRenderCallbackIsHandedOverAndTheResetRunsUnderTheLock)
{
    const auto image = build_song_image(busy_song(1));
    auto engine = std::make_unique<SynthEngine>();
    auto player = std::make_unique<Player>();
    FakeOutput fake;
    EXPECT_TRUE(player_init(*player, *engine, image.data(), &fake.output));
    EXPECT_EQ(fake.callback, &player_render);
    EXPECT_EQ(fake.callback_context, player.get());
    EXPECT_EQ(fake.gain, 1.0f);

    Frames frames(2 * 500);
    fake.callback(fake.callback_context, frames.data(), 500);  // muted until started
    EXPECT_TRUE(silent(frames));

    EXPECT_EQ(player_start(*player), 2000u);
    EXPECT_EQ(fake.locks, 1);
    EXPECT_EQ(fake.unlocks, 1);
    // The first frame rendered after the start is heard one output buffer later.
    fake.played = 2000 - 65536;
    EXPECT_EQ(player_position_ms(*player), -371);
    fake.played = 2000 + 176400 * 3;
    EXPECT_EQ(player_position_ms(*player), 3000);
    player_wake(*player);
    player_close(*player);
    EXPECT_EQ(fake.wakes, 1);
    EXPECT_EQ(fake.closes, 1);

    FakeOutput failing;
    failing.open_result = false;
    auto other = std::make_unique<Player>();
    EXPECT_FALSE(player_init(*other, *engine, image.data(), &failing.output));
}

TEST(Player, ASongThatDoesNotLoadIsNeverPlayed)
{
    ImageLayout layout;
    auto image = build_song_image(busy_song(1), &layout);
    write_word(image, layout.patch_bank_size, 1048577);
    auto engine = std::make_unique<SynthEngine>();
    auto player = std::make_unique<Player>();
    EXPECT_FALSE(player_init(*player, *engine, image.data(), nullptr));
    player_start(*player);
    EXPECT_EQ(player->seq.running, 0u);
    Frames frames(2 * 1000, 1.0f);
    player_render(player.get(), frames.data(), 1000);
    EXPECT_TRUE(silent(frames));
}

TEST(Pcm16, RoundsToNearestEvenClampsTo32600AndGivesTheNegativeLimitForNanOrBeyond32Bits)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    for (const auto& [sample, pcm] : {std::pair{1.0f, 32600},
                                      {-1.0f, -32600},
                                      {0.5f, 16384},
                                      {32600.4f / 32768.0f, 32600},
                                      {-32599.0f / 32768.0f, -32599},
                                      {0.5f / 32768.0f, 0},
                                      {1.5f / 32768.0f, 2},
                                      {-2.5f / 32768.0f, -2},
                                      {60000.0f, 32600},  // inside the 32-bit range
                                      {nan, -32600},
                                      {1.0e10f, -32600},
                                      {65536.0f, -32600} /* exactly 2^31 */,
                                      {inf, -32600},
                                      {-1.0e10f, -32600}})
        EXPECT_EQ(pcm16_from_float(sample), pcm) << sample;
    EXPECT_EQ(pcm16_from_float(0.5f, kPcmFullScale / 2), 8192);  // gain 0.5
}
