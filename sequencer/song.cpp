#include "sequencer/song.h"

namespace {

uint32_t read_word(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// A track: its count word, then width bytes per event. Returns the position
// after the track.
const uint8_t* load_track(const uint8_t* p, TrackRef& track, uint32_t width)
{
    track.count = read_word(p);
    track.data = p + 4;
    return p + 4 + static_cast<size_t>(width) * track.count;
}

}  // namespace

const char kDefaultSpeechText[] = " ";

int song_load(const uint8_t* image, SongTables& tables)
{
    const uint8_t* p = image;
    tables.ticks_per_quarter = read_word(p);
    tables.tick_divisor = tables.ticks_per_quarter * 10000u;
    tables.end_tick = read_word(p + 4);
    tables.global_count = read_word(p + 8);
    tables.global_track = p + 12;
    p += 12 + static_cast<size_t>(10) * tables.global_count;

    for (int c = 0; c < kChannelCount; ++c) {
        ChannelTracks& channel = tables.channels[c];
        channel.notes.count = read_word(p);
        if (channel.notes.count == 0) {
            // An absent channel: nothing else of it is stored.
            p += 4;
            continue;
        }
        p = load_track(p, channel.notes, 5);
        p = load_track(p, channel.programs, 4);
        p = load_track(p, channel.pitch_bends, 5);
        for (int k = 0; k < kControllerTracks; ++k) p = load_track(p, channel.controllers[k], 4);
    }

    const int32_t global_size = static_cast<int32_t>(read_word(p));
    if (global_size < 0 || global_size > static_cast<int32_t>(kMaxGlobalBlockBytes)) return 0;
    tables.global_block = p + 4;
    p += 4 + global_size;

    const int32_t bank_size = static_cast<int32_t>(read_word(p));
    if (bank_size < 0 || bank_size > static_cast<int32_t>(kMaxPatchBankBytes)) return 0;
    tables.patch_bank = p + 4;
    p += 4 + bank_size;

    const uint32_t speech_size = read_word(p);
    if (speech_size == 0 || speech_size >= kMaxSpeechBlockBytes) {
        for (int i = 0; i < kSpeechTableSize; ++i) tables.speech_texts[i] = kDefaultSpeechText;
        return 1;
    }
    tables.speech_block = p + 4;
    uint32_t text_count = read_word(tables.speech_block);
    // The table has room for 256 texts; later ones are not taken.
    if (text_count > static_cast<uint32_t>(kSpeechTableSize)) text_count = kSpeechTableSize;
    for (uint32_t i = 0; i < text_count; ++i) {
        const uint32_t offset = read_word(tables.speech_block + 4 + 4 * i);
        tables.speech_texts[i] = reinterpret_cast<const char*>(tables.speech_block + offset);
    }
    return 1;
}
