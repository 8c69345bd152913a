// MIDI files of the common shapes, generated here, compiled and played
// through the scheduler and transport: every note must sound at its tick and
// on the exact frame the file's tempo map gives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "tests/tools/authoring_test_support.h"
#include "tools/song_compile.h"

using namespace authoring_test;

namespace {

struct ScoreNote {
    int channel;  // MIDI channel 0..15
    int key;
    int velocity;
    uint64_t start;
    uint64_t end;  // after start
};

struct Score {
    uint16_t division = 480;
    std::vector<std::pair<uint64_t, uint32_t>> tempos;  // tick, microseconds per quarter
    std::vector<ScoreNote> notes;
};

// Writes the score as a format 0 file (one track) or a format 1 file (a
// tempo track and the channels spread over tracks), with running status,
// both note-off forms and events of one tick in shuffled order.
std::vector<uint8_t> score_file(const Score& score, int format, std::mt19937& random)
{
    const int track_count = format == 0 ? 1 : 1 + static_cast<int>(random() % 4);
    std::vector<std::vector<TimedBytes>> tracks(static_cast<size_t>(track_count));
    std::vector<TimedBytes> meter{{0, time_signature_bytes(4, 2)}};
    for (const auto& [tick, tempo] : score.tempos) meter.push_back({tick, tempo_bytes(tempo)});
    for (const ScoreNote& n : score.notes) {
        auto& track = tracks[track_count == 1 ? 0 : static_cast<size_t>(1 + n.channel % (track_count - 1))];
        const auto key = static_cast<uint8_t>(n.key);
        track.push_back({n.start, {static_cast<uint8_t>(0x90 | n.channel), key, static_cast<uint8_t>(n.velocity)}});
        const bool as_off = random() % 2;  // 0x8n, or 0x9n with velocity 0
        track.push_back(
            {n.end, {static_cast<uint8_t>((as_off ? 0x80 : 0x90) | n.channel), key, uint8_t(as_off ? 64 : 0)}});
    }
    std::vector<std::vector<uint8_t>> chunks;
    for (auto& track : tracks) {
        std::shuffle(track.begin(), track.end(), random);
        if (&track == &tracks[0]) track.insert(track.begin(), meter.begin(), meter.end());  // in their own order
        std::stable_sort(track.begin(), track.end(),
                         [](const TimedBytes& a, const TimedBytes& b) { return a.tick < b.tick; });
        // Leave out status bytes that running status repeats.
        uint8_t running = 0;
        for (TimedBytes& event : track) {
            const uint8_t status = event.bytes[0];
            if (status < 0xF0 && status == running && random() % 3 != 0) event.bytes.erase(event.bytes.begin());
            running = status < 0xF0 ? status : running;
        }
        chunks.push_back(track_chunk(track));
    }
    return midi_bytes(static_cast<uint16_t>(format), score.division, chunks);
}

std::vector<uint8_t> compile_score(const std::vector<uint8_t>& midi)
{
    MemoryFiles files;
    files.add("song.mid", midi);
    files.add("SONG.yaml", "midi: song.mid\npatches: {0: p.yaml}\n");
    files.add("p.yaml", simple_patch_yaml() + "polyphony: 32\n");
    Warnings warnings;
    const std::vector<uint8_t> image = song_compile("SONG.yaml", files.reader(), warnings);
    for (const auto& line : warnings.lines) ADD_FAILURE() << "unexpected warning: " << line;
    return image;
}

// The frame at which a tick falls: microseconds x 44100 / 10^6, that is
// ticks x tempo x 441 / (Q x 10000) summed over the tempo map, rounded down.
uint64_t expected_frame(const Score& score, uint64_t tick)
{
    uint64_t product = 0;
    uint64_t at = 0;
    uint32_t tempo = 500000;
    for (const auto& [change, value] : score.tempos) {
        if (change > tick) break;
        product += (change - at) * tempo * 441;
        at = change;
        tempo = value;
    }
    product += (tick - at) * tempo * 441;
    return product / (static_cast<uint64_t>(score.division) * 10000);
}

void check_playback(const Score& score, int format, uint32_t seed)
{
    std::mt19937 random(seed);
    const std::vector<uint8_t> image = compile_score(score_file(score, format, random));
    std::multiset<std::tuple<int, uint64_t, int, int>> heard, expected;  // channel, tick, key, velocity (0: off)
    std::set<std::pair<int, uint64_t>> struck;
    for (const PlayedMessage& m : play_dry(image)) {
        if ((m.status & 0xF0) != 0x90) continue;
        const int channel = m.status & 0x0F;
        ASSERT_EQ(m.frame, expected_frame(score, m.tick)) << "tick " << m.tick;
        if (m.data2 == 0)
            ASSERT_EQ(struck.count({channel, m.tick}), 0u) << "a note-off after a note-on at tick " << m.tick;
        else
            struck.insert({channel, m.tick});
        heard.insert({channel, m.tick, m.data1, m.data2});
    }
    for (const ScoreNote& n : score.notes) {
        expected.insert({n.channel, n.start, n.key, n.velocity});
        expected.insert({n.channel, n.end, n.key, 0});
    }
    EXPECT_EQ(heard.size(), expected.size());
    EXPECT_TRUE(heard == expected);
}

// Notes that never overlap another note of their key on their channel.
void add_line(Score& score, std::mt19937& random, int channel, size_t count, uint64_t from, uint32_t max_step,
              int low_key, int high_key)
{
    std::map<int, uint64_t> free_from;
    uint64_t tick = from;
    for (size_t i = 0; i < count; ++i) {
        tick += random() % max_step;
        const int key = low_key + static_cast<int>(random() % static_cast<uint32_t>(high_key - low_key + 1));
        if (free_from[key] > tick) continue;
        const uint64_t end = tick + 1 + random() % (2 * max_step);
        score.notes.push_back({channel, key, 1 + static_cast<int>(random() % 127), tick, end});
        free_from[key] = end;
    }
}

}  // namespace

TEST(CompiledPlayback, AFormatZeroFileWithRunningStatusPlaysEveryNoteOnTime)
{
    std::mt19937 random(1);
    Score score;
    score.division = 96;
    score.tempos = {{0, 428571}};
    for (int channel : {0, 1, 2}) add_line(score, random, channel, 200, 0, 48, 40, 80);
    check_playback(score, 0, 11);
}

TEST(CompiledPlayback, AFormatOneFileWithTempoChangesKeepsTheExactTempoMap)
{
    std::mt19937 random(2);
    Score score;
    score.division = 480;
    score.tempos = {{0, 600000}, {1920, 450000}, {1920, 300000}, {5000, 1234567}, {7777, 9739154}, {9000, 250001}};
    for (int channel : {0, 3, 5, 11}) add_line(score, random, channel, 150, 0, 120, 30, 90);
    check_playback(score, 1, 12);
}

TEST(CompiledPlayback, DrumsOnMidiChannelTenPlayOnSongChannelNine)
{
    std::mt19937 random(3);
    Score score;
    score.division = 240;
    for (uint64_t beat = 0; beat < 128; ++beat) {
        score.notes.push_back({9, 36, 120, beat * 240, beat * 240 + 10});
        if (beat % 2) score.notes.push_back({9, 38, 100, beat * 240, beat * 240 + 30});
        for (uint64_t eighth = 0; eighth < 2; ++eighth)
            score.notes.push_back({9, 42, 60 + static_cast<int>(random() % 40), beat * 240 + eighth * 120,
                                   beat * 240 + eighth * 120 + 5});
    }
    add_line(score, random, 1, 100, 0, 240, 36, 48);
    check_playback(score, 1, 13);
}

TEST(CompiledPlayback, DenseChordsAcrossAllChannelsPlayComplete)
{
    std::mt19937 random(4);
    Score score;
    score.division = 96;
    // Every key on every channel at once: more than one stream buffer holds.
    for (int channel = 0; channel < 16; ++channel)
        for (int key = 0; key < 128; ++key)
            score.notes.push_back({channel, key, 1 + key % 127, 96, 192 + static_cast<uint64_t>(key % 5)});
    for (int chord = 0; chord < 40; ++chord)
        for (int channel : {0, 4, 8})
            for (int voice = 0; voice < 10; ++voice)
                score.notes.push_back({channel, 40 + voice * 3 + chord % 3, 90, 200 + static_cast<uint64_t>(chord) * 48,
                                       200 + static_cast<uint64_t>(chord) * 48 + 48});
    check_playback(score, 1, 14);
}

TEST(CompiledPlayback, ALongFileKeepsFrameExactTimingToTheEnd)
{
    std::mt19937 random(5);
    Score score;
    score.division = 960;
    for (uint64_t tick = 0; tick < 30000000; tick += 600000 + random() % 10000)
        score.tempos.push_back({tick, 300000 + static_cast<uint32_t>(random() % 700000)});
    for (int channel : {0, 1, 2, 3}) add_line(score, random, channel, 5000, 0, 12000, 20, 100);
    EXPECT_GT(score.notes.back().end, 16777216u);  // beyond what one 24-bit delta spans
    check_playback(score, 1, 15);
}
