// The example song of the authoring guide (examples/first-song): its MIDI
// file is written by the generator below, byte for byte reproducible; the
// song compiles without a warning, decompiles back into the same bytes and
// renders sound.
//
// To rewrite the MIDI file after changing the generator:
//   CANTILENA_UPDATE_EXAMPLES=1 CANTILENA_SOURCE_DIR=. build/tests/test_tools --gtest_filter='ExampleSong*'
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "sequencer/player.h"
#include "synth/engine.h"
#include "tests/tools/authoring_test_support.h"
#include "tools/midi_file.h"
#include "tools/song_compile.h"

using namespace authoring_test;

namespace {

constexpr uint16_t kDivision = 480;
constexpr uint64_t kBeat = kDivision;
constexpr uint64_t kBar = 4 * kBeat;
constexpr uint64_t kEighth = kBeat / 2;

struct Chord {
    int bass;
    int tones[3];
};

// A minor: Am, F, C, G, twice.
constexpr Chord kChords[4] = {{45, {57, 60, 64}}, {41, {53, 57, 60}}, {48, {55, 60, 64}}, {43, {55, 59, 62}}};

// Melody: start in eighths from the bar, length in eighths, key.
struct Step {
    int bar;
    int at;
    int length;
    int key;
};

constexpr Step kMelody[] = {
    {0, 0, 2, 76}, {0, 2, 1, 72}, {0, 3, 1, 74}, {0, 4, 2, 76}, {0, 6, 2, 69},
    {1, 0, 2, 77}, {1, 2, 1, 76}, {1, 3, 1, 74}, {1, 4, 4, 72},
    {2, 0, 2, 76}, {2, 2, 2, 79}, {2, 4, 1, 76}, {2, 5, 1, 74}, {2, 6, 2, 72},
    {3, 0, 2, 74}, {3, 2, 2, 71}, {3, 4, 4, 67},
    {4, 0, 2, 81}, {4, 2, 1, 79}, {4, 3, 1, 77}, {4, 4, 4, 76},
    {5, 0, 2, 77}, {5, 2, 2, 81}, {5, 4, 2, 84}, {5, 6, 2, 81},
    {6, 0, 2, 79}, {6, 2, 2, 76}, {6, 4, 2, 72}, {6, 6, 2, 76},
    {7, 0, 4, 74}, {7, 4, 2, 71}, {7, 6, 2, 69},
};

struct TrackBuilder {
    std::vector<TimedBytes> events;
    uint8_t channel;

    void meta_name(const std::string& name)
    {
        std::vector<uint8_t> bytes{0xFF, 0x03, static_cast<uint8_t>(name.size())};
        bytes.insert(bytes.end(), name.begin(), name.end());
        events.push_back({0, bytes});
    }
    void program(uint8_t value) { events.push_back({0, {static_cast<uint8_t>(0xC0 | channel), value}}); }
    void controller(uint64_t tick, uint8_t number, uint8_t value)
    {
        events.push_back({tick, {static_cast<uint8_t>(0xB0 | channel), number, value}});
    }
    void note(uint64_t start, uint64_t length, int key, int velocity)
    {
        events.push_back({start, {static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(key), static_cast<uint8_t>(velocity)}});
        events.push_back({start + length, {static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(key), 64}});
    }
    std::vector<uint8_t> chunk()
    {
        std::stable_sort(events.begin(), events.end(), [](const TimedBytes& a, const TimedBytes& b) { return a.tick < b.tick; });
        return track_chunk(events);
    }
};

std::vector<uint8_t> example_midi()
{
    TrackBuilder meter{{}, 0};
    meter.meta_name("first song");
    meter.events.push_back({0, time_signature_bytes(4, 2)});
    meter.events.push_back({0, tempo_bytes(600000)});  // 100 quarter notes a minute
    meter.events.push_back({7 * kBar + 2 * kBeat, tempo_bytes(700000)});  // the last two beats slow down
    meter.events.push_back({7 * kBar + 3 * kBeat, tempo_bytes(850000)});

    TrackBuilder bass{{}, 0};
    bass.meta_name("bass");
    bass.program(33);
    TrackBuilder pad{{}, 1};
    pad.meta_name("pad");
    pad.program(89);
    for (int bar = 0; bar < 8; ++bar) {
        const Chord& chord = kChords[bar % 4];
        const uint64_t start = static_cast<uint64_t>(bar) * kBar;
        for (int e = 0; e < 8; ++e) {
            const int key = chord.bass + (e == 2 || e == 6 ? 12 : 0);
            bass.note(start + static_cast<uint64_t>(e) * kEighth, kEighth - 40, key, e % 2 ? 80 : 105);
        }
        for (int tone : chord.tones) pad.note(start, kBar, tone, 70);  // whole notes, legato from chord to chord
    }

    TrackBuilder lead{{}, 2};
    lead.meta_name("lead");
    lead.program(81);
    for (const Step& step : kMelody)
        lead.note(static_cast<uint64_t>(step.bar) * kBar + static_cast<uint64_t>(step.at) * kEighth,
                  static_cast<uint64_t>(step.length) * kEighth - 20, step.key, 90 + (step.at == 0 ? 20 : 0));
    // The modulation wheel opens the vibrato on the long notes at the ends of the phrases.
    for (int bar : {3, 7})
        for (int i = 0; i <= 8; ++i)
            lead.controller(static_cast<uint64_t>(bar) * kBar + 2 * kBeat + static_cast<uint64_t>(i) * kBeat / 4, 1,
                            static_cast<uint8_t>(i * 12));
    lead.controller(4 * kBar, 1, 0);

    TrackBuilder drums{{}, 9};
    drums.meta_name("drums");
    drums.program(0);
    for (int bar = 0; bar < 8; ++bar)
        for (int beat = 0; beat < 4; ++beat) {
            const uint64_t at = static_cast<uint64_t>(bar) * kBar + static_cast<uint64_t>(beat) * kBeat;
            drums.note(at, 60, beat % 2 ? 38 : 36, beat % 2 ? 100 : 120);
            drums.note(at, 30, 42, 70);
            drums.note(at + kEighth, 30, 42, 50);
        }

    TrackBuilder voice{{}, 15};
    voice.meta_name("voice");
    voice.program(52);
    const int sung[12] = {64, 64, 67, 65, 65, 69, 67, 64, 67, 62, 62, 57};
    for (int i = 0; i < 12; ++i) {
        const int bar = 4 + i / 3;
        const int place = i % 3;  // a half note, then two quarters
        const uint64_t start = static_cast<uint64_t>(bar) * kBar + (place == 0 ? 0 : static_cast<uint64_t>(place + 1) * kBeat);
        voice.note(start, (place == 0 ? 2 * kBeat : kBeat) - 60, sung[i], 100);
    }

    return midi_bytes(1, kDivision, {meter.chunk(), bass.chunk(), pad.chunk(), lead.chunk(), drums.chunk(), voice.chunk()});
}

std::string example_path(const std::string& name)
{
    return std::string(std::getenv("CANTILENA_SOURCE_DIR")) + "/examples/first-song/" + name;
}

#define NEED_SOURCE_DIR() \
    if (!std::getenv("CANTILENA_SOURCE_DIR")) GTEST_SKIP() << "CANTILENA_SOURCE_DIR is not set"


}  // namespace

TEST(ExampleSong, TheMidiFileIsTheOneTheGeneratorWrites)
{
    NEED_SOURCE_DIR();
    const std::vector<uint8_t> generated = example_midi();
    if (std::getenv("CANTILENA_UPDATE_EXAMPLES")) file_write_atomically(example_path("song.mid"), generated);
    EXPECT_EQ(file_read_all(example_path("song.mid")), generated);
}

TEST(ExampleSong, CompilesCleanlyPlaysEveryNoteAndComesBackFromDecompile)
{
    NEED_SOURCE_DIR();
    Warnings warnings;
    const std::vector<uint8_t> image = song_compile(example_path("SONG.yaml"), file_reader_disk(), warnings);
    for (const auto& line : warnings.lines) ADD_FAILURE() << line;

    size_t midi_notes = 0;
    Warnings ignored;
    const std::vector<uint8_t> midi = example_midi();
    for (const MidiTrack& track : midi_read(midi.data(), midi.size(), "song.mid", ignored).tracks)
        for (const MidiEvent& event : track.events)
            if (event.kind() == 0x90 && event.status < 0xF0) ++midi_notes;
    size_t played = 0;
    for (const PlayedMessage& m : play_dry(image))
        if ((m.status & 0xF0) == 0x90) ++played;
    EXPECT_EQ(played, 2 * midi_notes);  // each note-on and its note-off

    MemoryFiles files;
    for (const SourceFile& file : song_decompile(image, "example.img")) files.add(file.name, file.bytes);
    Warnings again;
    EXPECT_EQ(song_compile(kSongYamlName, files.reader(), again), image);
}

TEST(ExampleSong, RendersAudibleFiniteSound)
{
    NEED_SOURCE_DIR();
    Warnings warnings;
    const std::vector<uint8_t> image = song_compile(example_path("SONG.yaml"), file_reader_disk(), warnings);
    auto engine = std::make_unique<SynthEngine>();
    auto player = std::make_unique<Player>();
    ASSERT_EQ(player_init(*player, *engine, image.data(), nullptr), 1);
    player_start(*player);
    constexpr uint32_t kChunk = 4096;
    std::vector<float> frames(2 * kChunk);
    float peak = 0.0f;
    bool finite = true;
    for (uint32_t done = 0; done < 44100 * 22; done += kChunk) {
        player_render(player.get(), frames.data(), kChunk);
        for (float sample : frames) {
            finite = finite && std::isfinite(sample);
            peak = std::max(peak, std::fabs(sample));
        }
    }
    EXPECT_TRUE(finite);
    EXPECT_GT(peak, 0.05f);
    EXPECT_LT(peak, 1.5f);
}
