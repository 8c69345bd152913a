// Each channel of the embedded song rendered alone: every patch makes sound,
// and the voice's text keeps step with its notes, is heard while they play
// and nowhere else.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "synth/constants.h"
#include "synth/engine.h"
#include "tests/song/song_test_support.h"
#include "tools/song_reader.h"

using namespace song_test;

namespace {

constexpr double kListen = 6.0;     // seconds heard of each channel from its first note
constexpr double kAudible = -40.0;  // dBFS: well above silence
constexpr double kSilent = -60.0;

// What the voice's notes find: a note-on should meet the text waiting at a
// "!", a note-off the text holding at a "_".
struct VoiceLog {
    int note_ons = 0;
    int note_offs = 0;
    std::vector<std::string> misses;
};

void check_voice(VoiceLog& log, uint32_t tick, const uint8_t* stream, size_t length, const SynthEngine& engine)
{
    const SpeechState& speech = engine.speech.state;
    uint8_t status = 0;
    for (size_t i = 0; i < length && stream[i] != kStreamEnd;) {
        if (stream[i] & 0x80) status = stream[i++];
        const int kind = status & 0xF0;
        if ((status & 0x0F) == kSpeechChannel && (kind == 0x80 || kind == 0x90)) {
            const bool on = kind == 0x90 && stream[i + 1] != 0;
            const bool waiting = on ? speech.hold_note_on != 0 && speech.hold_note_off == 0 : speech.hold_note_off != 0;
            ++(on ? log.note_ons : log.note_offs);
            if (!waiting)
                log.misses.push_back(std::string(on ? "note-on" : "note-off") + " at tick " + std::to_string(tick) +
                                     " found the text at \"" + std::string(speech.cursor).substr(0, 12) + "\"");
        }
        i += kind == 0xC0 || kind == 0xD0 ? 1 : 2;
    }
}

}  // namespace

TEST(SongChannels, EveryPatchSoundsOnTheChannelThatPlaysIt)
{
    const std::vector<uint8_t> image = embedded_image();
    const SongData song = song_read_image(image.data(), image.size(), "embedded song");
    std::set<uint32_t> played;
    for (const ChannelEvents& channel : song.channels)
        for (const ValueEvent& program : channel.programs) played.insert(program.value);
    const size_t programs = song_read_patch_bank(song.patch_bank, "patch bank").program_offsets.size();
    for (uint32_t program = 0; program < programs; ++program)
        EXPECT_EQ(played.count(program), 1u) << "no channel plays program " << program;

    for (int c = 0; c < kSongChannels; ++c) {
        const std::vector<NoteSpan> notes = note_spans(song, c);
        if (notes.empty()) continue;
        const double from = notes.front().start;
        const Render alone = render_song(image_with_channel(image, c), from + kListen);
        EXPECT_GT(rms_dbfs(alone, from, from + kListen), kAudible) << "channel " << c;
        EXPECT_LT(rms_dbfs(alone, 0.0, from), kSilent) << "channel " << c << " before its first note";
    }
}

TEST(SongChannels, TheVoiceSingsItsTextInStepWithItsNotesAndIsSilentWhereItDoesNotSing)
{
    const std::vector<uint8_t> image = embedded_image();
    const SongData song = song_read_image(image.data(), image.size(), "embedded song");
    const std::vector<NoteSpan> notes = note_spans(song, kSpeechChannel);
    ASSERT_FALSE(notes.empty());
    VoiceLog log;
    const Render voice =
        render_song(image_with_channel(image, kSpeechChannel), notes.back().end + 1.0,
                    [&log](uint32_t tick, const uint8_t* stream, size_t length, const SynthEngine& engine) {
                        check_voice(log, tick, stream, length, engine);
                    });

    // Syllable by syllable: every note finds the text waiting for it.
    EXPECT_EQ(log.note_ons, static_cast<int>(notes.size()));
    EXPECT_EQ(log.note_offs, log.note_ons);
    for (const std::string& miss : log.misses) ADD_FAILURE() << miss;

    for (const NoteSpan& note : notes)
        EXPECT_GT(rms_dbfs(voice, note.start + 0.03, note.end), kAudible)
            << "the note at " << note.start << " s (key " << note.key << ")";

    // Between phrases more than five seconds apart, once the echoes have died away.
    EXPECT_LT(rms_dbfs(voice, 0.0, notes.front().start), kSilent);
    int gaps = 0;
    for (size_t n = 1; n < notes.size(); ++n) {
        if (notes[n].start - notes[n - 1].end < 5.0) continue;
        ++gaps;
        EXPECT_LT(rms_dbfs(voice, notes[n - 1].end + 4.0, notes[n].start), kSilent)
            << "between " << notes[n - 1].end << " s and " << notes[n].start << " s";
    }
    EXPECT_GT(gaps, 0);
}
