// Writes the test song that the player carries until the real song exists:
// 16 bars in A minor with a lead, a pad, noise drums, a bass and a sung line
// on the speech channel, one tempo change, controllers and pitch bends.
//   make_test_song OUTPUT.img
#include <algorithm>
#include <cstdio>
#include <exception>

#include "tests/support/image_builder.h"

using namespace image_builder;

namespace {

constexpr uint32_t kQuarter = 96;  // ticks
constexpr uint32_t kBar = 4 * kQuarter;
constexpr uint32_t kBars = 16;
constexpr int kLead = 0, kPad = 1, kDrums = 2, kBass = 3, kVoice = 15;

// Note-offs sort before note-ons of the same tick.
void add_note(std::vector<NoteEvent>& notes, uint32_t tick, uint32_t length, uint8_t note, uint8_t velocity)
{
    notes.push_back({tick, note, velocity});
    notes.push_back({tick + length, note, 0});
}

void sort_notes(std::vector<NoteEvent>& notes)
{
    std::stable_sort(notes.begin(), notes.end(), [](const NoteEvent& a, const NoteEvent& b) {
        if (a.tick != b.tick) return a.tick < b.tick;
        return (a.velocity == 0) > (b.velocity == 0);
    });
}

void set_up_channel(ChannelPlan& channel, uint8_t program, uint8_t volume)
{
    channel.programs.push_back({0, program});
    channel.pitch_bends.push_back({0, 0x00, 0x40});
    channel.controllers[6].push_back({0, volume});
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_test_song OUTPUT.img\n");
        return 2;
    }
    SongPlan song;
    song.ticks_per_quarter = kQuarter;
    song.tempos.push_back({0, 500000});                 // 120 quarters a minute
    song.tempos.push_back({8 * kBar, 468750, 4, 4, 8});  // 128 from bar 9 on

    const uint8_t chords[4][3] = {{57, 60, 64}, {53, 57, 60}, {55, 60, 64}, {55, 59, 62}};  // Am F C G
    const uint8_t roots[4] = {57, 53, 60, 55};
    const uint8_t scale[6] = {69, 72, 74, 76, 79, 81};

    ChannelPlan& lead = song.channels[kLead];
    ChannelPlan& pad = song.channels[kPad];
    ChannelPlan& drums = song.channels[kDrums];
    ChannelPlan& bass = song.channels[kBass];
    ChannelPlan& voice = song.channels[kVoice];
    set_up_channel(lead, 0, 64);
    set_up_channel(pad, 1, 64);
    set_up_channel(drums, 2, 72);
    set_up_channel(bass, 3, 80);
    set_up_channel(voice, 1, 90);

    uint32_t random = 12345;
    for (uint32_t bar = 0; bar < kBars; ++bar) {
        const uint32_t start = bar * kBar;
        const int chord = bar % 4;
        for (uint8_t note : chords[chord]) add_note(pad.notes, start, kBar - 4, note, 70);
        for (uint32_t beat = 0; beat < 4; ++beat)
            add_note(bass.notes, start + beat * kQuarter, kQuarter - 12, roots[chord], beat == 0 ? 110 : 85);
        for (uint32_t eighth = 0; eighth < 8; ++eighth)
            add_note(drums.notes, start + eighth * (kQuarter / 2), 8, 72, eighth % 2 ? 60 : 100);
        if (bar >= 2) {
            for (uint32_t eighth = 0; eighth < 8; ++eighth) {
                random = random * 1103515245u + 12345u;
                if ((random >> 16) % 4 == 0) continue;  // a rest
                const uint8_t note = scale[(random >> 20) % 6];
                add_note(lead.notes, start + eighth * (kQuarter / 2), kQuarter / 2 - 6, note, 80 + (random >> 26) % 40);
            }
        }
        if (bar >= 8) {
            for (uint32_t half = 0; half < 2; ++half)
                add_note(voice.notes, start + half * 2 * kQuarter, 2 * kQuarter - 24, chords[chord][2], 100);
        }
        // A slow swell of controller 1 on the lead (its LFO amount).
        lead.controllers[0].push_back({start, static_cast<uint8_t>((bar * 8) % 128)});
    }
    // The lead's pitch bend returns to centre at the end (ignored by the engine, kept for the format).
    lead.pitch_bends.push_back({kBars * kBar, 0x00, 0x40});
    for (ChannelPlan* channel : {&lead, &pad, &drums, &bass, &voice}) sort_notes(channel->notes);
    song.texts = {"!lAA_ !lAA_ !lIY_ !lOW_ "};

    try {
        const std::vector<uint8_t> image = build_song_image(song);
        std::FILE* out = std::fopen(argv[1], "wb");
        if (!out || std::fwrite(image.data(), 1, image.size(), out) != image.size() || std::fclose(out) != 0) {
            std::fprintf(stderr, "make_test_song: cannot write %s\n", argv[1]);
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_test_song: %s\n", e.what());
        return 1;
    }
    return 0;
}
