#include "sequencer/song.h"

#include "synth/units/numeric.h"

namespace {

// A track: its count word, then width bytes per event. Returns the position
// after the track.
const uint8_t* load_track(const uint8_t* p, TrackRef& track, uint32_t width)
{
    track.count = word_from_bytes(p);
    track.data = p + 4;
    return p + 4 + static_cast<size_t>(width) * track.count;
}

}  // namespace

const char kDefaultSpeechText[] = " ";

bool song_load(const uint8_t* image, SongTables& tables)
{
    const uint8_t* p = image;
    tables.ticks_per_quarter = word_from_bytes(p);
    tables.tick_divisor = tables.ticks_per_quarter * kTickDivisorScale;
    tables.end_tick = word_from_bytes(p + 4);
    tables.global_count = word_from_bytes(p + 8);
    tables.global_track = p + kSongHeaderBytes;
    p += kSongHeaderBytes + static_cast<size_t>(kGlobalEventBytes) * tables.global_count;

    for (int c = 0; c < kChannelCount; ++c) {
        ChannelTracks& channel = tables.channels[c];
        channel.notes.count = word_from_bytes(p);
        if (channel.notes.count == 0) {
            // An absent channel: nothing else of it is stored.
            p += 4;
            continue;
        }
        p = load_track(p, channel.notes, kNoteEventBytes);
        p = load_track(p, channel.programs, kValueEventBytes);
        p = load_track(p, channel.pitch_bends, kBendEventBytes);
        for (int k = 0; k < kControllerTracks; ++k) p = load_track(p, channel.controllers[k], kValueEventBytes);
    }

    const int32_t global_size = static_cast<int32_t>(word_from_bytes(p));
    if (global_size < 0 || global_size > static_cast<int32_t>(kMaxGlobalBlockBytes)) return false;
    tables.global_block = p + 4;
    p += 4 + global_size;

    const int32_t bank_size = static_cast<int32_t>(word_from_bytes(p));
    if (bank_size < 0 || bank_size > static_cast<int32_t>(kMaxPatchBankBytes)) return false;
    tables.patch_bank = p + 4;
    p += 4 + bank_size;

    const uint32_t speech_size = word_from_bytes(p);
    if (speech_size == 0 || speech_size >= kSpeechBlockLimit) {
        for (int i = 0; i < kSpeechTableSize; ++i) tables.speech_texts[i] = kDefaultSpeechText;
        return true;
    }
    tables.speech_block = p + 4;
    uint32_t text_count = word_from_bytes(tables.speech_block);
    // The table has room for 256 texts; later ones are not taken.
    if (text_count > static_cast<uint32_t>(kSpeechTableSize)) text_count = kSpeechTableSize;
    for (uint32_t i = 0; i < text_count; ++i) {
        const uint32_t offset = word_from_bytes(tables.speech_block + 4 + 4 * i);
        tables.speech_texts[i] = reinterpret_cast<const char*>(tables.speech_block + offset);
    }
    return true;
}
