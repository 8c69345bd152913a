// The example song of the authoring guide (examples/first-song) compiles
// without a warning, plays every note of its MIDI file, decompiles back into
// the same bytes and renders sound.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>

#include "sequencer/player.h"
#include "synth/engine.h"
#include "tests/tools/authoring_test_support.h"
#include "tools/midi_file.h"
#include "tools/song_compile.h"

using namespace authoring_test;

namespace {

class ExampleSong : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* source = std::getenv("CANTILENA_SOURCE_DIR");
        if (!source) GTEST_SKIP() << "CANTILENA_SOURCE_DIR is not set";
        directory = std::string(source) + "/examples/first-song/";
        Warnings warnings;
        image = song_compile(directory + "SONG.yaml", file_reader_disk(), warnings);
        for (const auto& line : warnings.lines) ADD_FAILURE() << line;
    }

    std::string directory;
    std::vector<uint8_t> image;
};

}  // namespace

TEST_F(ExampleSong, CompilesCleanlyPlaysEveryNoteAndComesBackFromDecompile)
{
    size_t midi_notes = 0;
    Warnings ignored;
    const std::vector<uint8_t> midi = file_read_all(directory + "song.mid");
    for (const MidiTrack& track : midi_read(midi.data(), midi.size(), "song.mid", ignored).tracks)
        for (const MidiEvent& event : track.events) midi_notes += event.kind() == 0x90 || event.kind() == 0x80;
    size_t played = 0;
    for (const PlayedMessage& m : play_dry(image)) played += (m.status & 0xF0) == 0x90;
    EXPECT_GT(midi_notes, 100u);
    EXPECT_EQ(played, midi_notes);  // each note-on and its note-off

    MemoryFiles files;
    for (const SourceFile& file : song_decompile(image, "example.img")) files.add(file.name, file.bytes);
    Warnings again;
    EXPECT_EQ(song_compile(kSongYamlName, files.reader(), again), image);
}

TEST_F(ExampleSong, RendersAudibleFiniteSound)
{
    auto engine = std::make_unique<SynthEngine>();
    auto player = std::make_unique<Player>();
    ASSERT_TRUE(player_init(*player, *engine, image.data(), nullptr));
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
