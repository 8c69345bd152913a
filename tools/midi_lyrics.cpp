#include "tools/midi_lyrics.h"

#include <algorithm>

namespace {

constexpr char kKaraokeMark = '@';       // karaoke header texts start with it
constexpr char kKaraokeSignature = 'K';  // "@KMIDI KARAOKE FILE" and the like

bool is_meta(const MidiEvent& event, uint8_t type)
{
    return event.status == kMidiMeta && event.meta_type == type && !event.payload.empty();
}

bool is_karaoke_header(const MidiEvent& event)
{
    return is_meta(event, kMetaText) && event.payload[0] == kKaraokeMark;
}

bool is_karaoke_signature(const MidiEvent& event)
{
    return is_karaoke_header(event) && event.payload.size() > 1 && event.payload[1] == kKaraokeSignature;
}

bool any_event(const MidiFile& file, bool (*test)(const MidiEvent&))
{
    for (const MidiTrack& track : file.tracks)
        if (std::any_of(track.events.begin(), track.events.end(), test)) return true;
    return false;
}

bool is_lyric_event(const MidiEvent& event)
{
    return is_meta(event, kMetaLyric);
}

bool is_karaoke_text(const MidiEvent& event)
{
    return is_meta(event, kMetaText) && !is_karaoke_header(event);
}

// Which events of the file are its lyrics.
auto lyric_test(const MidiFile& file) -> bool (*)(const MidiEvent&)
{
    if (any_event(file, is_lyric_event)) return is_lyric_event;
    if (any_event(file, is_karaoke_signature)) return is_karaoke_text;
    return nullptr;
}

}  // namespace

std::vector<MidiLyric> midi_lyrics(const MidiFile& file)
{
    std::vector<MidiLyric> lyrics;
    const auto test = lyric_test(file);
    if (test == nullptr) return lyrics;
    for (size_t t = 0; t < file.tracks.size(); ++t)
        for (const MidiEvent& event : file.tracks[t].events)
            if (test(event))
                lyrics.push_back({event.tick, static_cast<int>(t), event.offset,
                                  std::string(event.payload.begin(), event.payload.end())});
    std::stable_sort(lyrics.begin(), lyrics.end(),
                     [](const MidiLyric& a, const MidiLyric& b) { return a.tick < b.tick; });
    return lyrics;
}

bool midi_has_lyrics(const MidiFile& file)
{
    const auto test = lyric_test(file);
    return test != nullptr && any_event(file, test);
}
