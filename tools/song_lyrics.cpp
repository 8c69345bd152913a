#include "tools/song_lyrics.h"

#include <algorithm>
#include <map>

#include "speech/speech.h"
#include "synth/constants.h"
#include "tools/lyrics.h"
#include "tools/midi_lyrics.h"

namespace {

// One lyric event on its note: the syllable as written and the notes it is
// sung over (more than one when the notes after it carry no lyric).
struct Piece {
    std::string text;
    int notes = 1;
    MidiLyric event;
};

// The syllables of a word (or of several, when one event holds words apart
// with spaces), with the notes of each.
struct Group {
    std::string text;
    std::vector<int> notes;
    MidiLyric first;
};

bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool is_line_mark(char c)
{
    return c == '/' || c == '\\';
}

// A lyric that only says "the syllable before goes on" (what some sequencers
// write on the further notes of a melisma).
bool is_continuation(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return c == '-' || c == '_' || c == '~' || c == '+' || is_space(c);
    });
}

std::string trimmed(const std::string& text)
{
    size_t a = 0;
    size_t b = text.size();
    while (a < b && (is_space(text[a]) || is_line_mark(text[a]))) ++a;
    while (b > a && is_space(text[b - 1])) --b;
    return text.substr(a, b - a);
}

bool ends_with_hyphen(const std::string& text)
{
    const std::string t = trimmed(text);
    return !t.empty() && t.back() == '-';
}

std::vector<uint64_t> voice_note_ticks(const MidiFile& file)
{
    std::vector<uint64_t> ticks;
    for (const MidiTrack& track : file.tracks)
        for (const MidiEvent& event : track.events)
            if (event.kind() == kMidiNoteOn && event.channel() == kVoiceMidiChannel && event.data[1] > 0)
                ticks.push_back(event.tick);
    std::sort(ticks.begin(), ticks.end());
    ticks.erase(std::unique(ticks.begin(), ticks.end()), ticks.end());
    return ticks;
}

// Pairs the lyrics with the notes. Returns the pieces; counts the notes
// before the first lyric.
std::vector<Piece> pieces_on_notes(const MidiFile& file, const std::string& name, Warnings& warnings, int& silent)
{
    std::map<uint64_t, MidiLyric> at_tick;  // the lyrics of one tick joined
    for (const MidiLyric& lyric : midi_lyrics(file)) {
        auto [it, fresh] = at_tick.emplace(lyric.tick, lyric);
        if (!fresh) it->second.text += lyric.text;
    }
    const std::vector<uint64_t> notes = voice_note_ticks(file);
    for (const auto& [tick, lyric] : at_tick)
        if (!std::binary_search(notes.begin(), notes.end(), tick))
            warnings.add(at_byte(name, lyric.offset), "tick " + std::to_string(tick) + ": the lyric \"" + lyric.text +
                                                          "\" stands at no note-on of MIDI channel 16; it is left out");
    std::vector<Piece> pieces;
    silent = 0;
    for (uint64_t tick : notes) {
        auto it = at_tick.find(tick);
        if (it != at_tick.end() && !is_continuation(it->second.text) && !trimmed(it->second.text).empty())
            pieces.push_back({it->second.text, 1, it->second});
        else if (!pieces.empty())
            ++pieces.back().notes;
        else
            ++silent;
    }
    return pieces;
}

std::vector<Group> groups_of(const std::vector<Piece>& pieces)
{
    const bool hyphenated =
        std::any_of(pieces.begin(), pieces.end(), [](const Piece& p) { return ends_with_hyphen(p.text); });
    std::vector<Group> groups;
    bool word_open = false;
    for (const Piece& piece : pieces) {
        const std::string& raw = piece.text;
        const bool starts_apart = is_space(raw.front()) || is_line_mark(raw.front());
        if (!word_open || starts_apart) groups.push_back({"", {}, piece.event});
        std::string syllable = trimmed(raw);
        if (!syllable.empty() && syllable.back() == '-') syllable.pop_back();
        groups.back().text += syllable;
        groups.back().notes.push_back(piece.notes);
        word_open = hyphenated ? ends_with_hyphen(raw) : !is_space(raw.back());
    }
    return groups;
}

// Folds syllables into the one before until there are as many as notes: the
// folded ones are sung after that note, in its release.
void fold(std::vector<Syllable>& syllables, size_t count)
{
    while (syllables.size() > count && syllables.size() > 1) {
        Syllable last = syllables.back();
        syllables.pop_back();
        std::vector<Phone>& coda = syllables.back().coda;
        coda.insert(coda.end(), last.onset.begin(), last.onset.end());
        coda.push_back(last.nucleus);
        coda.insert(coda.end(), last.glide.begin(), last.glide.end());
        coda.insert(coda.end(), last.coda.begin(), last.coda.end());
    }
}

SungWord sung_group(const Group& group, const std::string& name)
{
    const int events = static_cast<int>(group.notes.size());
    std::vector<SungWord> words;
    try {
        words = lyrics_read(group.text, {name, 1}, events);
    } catch (const AuthorError& e) {
        throw AuthorError(at_byte(name, group.first.offset),
                          "tick " + std::to_string(group.first.tick) + ": " + e.what_wrong);
    }
    SungWord out;
    out.text = group.text;
    for (const SungWord& w : words) out.syllables.insert(out.syllables.end(), w.syllables.begin(), w.syllables.end());
    if (out.syllables.size() == group.notes.size()) {
        // A syllable an event: each is held over the notes its event has.
        for (size_t i = 0; i < group.notes.size(); ++i) out.syllables[i].holds = group.notes[i] - 1;
        return out;
    }
    // Otherwise a syllable a note while notes last; the last one held over
    // the notes left.
    int notes = 0;
    for (int n : group.notes) notes += n;
    fold(out.syllables, static_cast<size_t>(notes));
    out.holds = notes - static_cast<int>(out.syllables.size());
    return out;
}

// The voice's notes between two text selections.
struct Stretch {
    size_t text;
    int notes = 0;
    uint32_t first = 0;  // ticks of the first and the last note-on
    uint32_t last = 0;
};

// The stretches of song channel 15 that have notes: note-ons at one tick
// count once, and at one tick a selection comes before the notes.
std::vector<Stretch> voice_stretches(const SongData& song)
{
    const ChannelEvents& voice = song.channels[kSpeechChannel];
    const std::vector<ValueEvent>& selections = voice.controllers[kSpeechControllerText - 1];
    std::vector<Stretch> stretches{{0}};
    size_t next = 0;
    for (const NoteEvent& note : voice.notes) {
        if (note.velocity == 0) continue;
        for (; next < selections.size() && selections[next].tick <= note.tick; ++next)
            if (selections[next].value <= kSpeechLastSelectableText) stretches.push_back({selections[next].value});
        Stretch& s = stretches.back();
        if (s.notes > 0 && note.tick == s.last) continue;
        if (s.notes++ == 0) s.first = note.tick;
        s.last = note.tick;
    }
    stretches.erase(std::remove_if(stretches.begin(), stretches.end(), [](const Stretch& s) { return s.notes == 0; }),
                    stretches.end());
    return stretches;
}

int syllable_count(const std::string& text)
{
    int count = 0;
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == '!' && (i == 0 || text[i - 1] < '0' || text[i - 1] > '9')) ++count;
    return count;
}

}  // namespace

std::string song_lyrics_from_midi(const MidiFile& file, const std::string& name, Warnings& warnings)
{
    int silent = 0;
    const std::vector<Piece> pieces = pieces_on_notes(file, name, warnings, silent);
    if (pieces.empty()) return "";
    std::vector<SungWord> words;
    for (const Group& group : groups_of(pieces)) words.push_back(sung_group(group, name));
    std::string text;
    for (int i = 0; i < silent; ++i) text += "!_";
    return text + lyrics_write(words, LyricsStyle::sung);
}

void song_fit_lyrics(const SongData& song, SongDescription& desc)
{
    const std::vector<Stretch> stretches = voice_stretches(song);
    for (const SpeechWords& item : desc.speech_words) {
        if (item.style != LyricsStyle::sung) continue;
        auto first =
            std::find_if(stretches.begin(), stretches.end(), [&](const Stretch& s) { return s.text == item.text; });
        if (first == stretches.end()) continue;
        const std::string fitted = lyrics_to_phonetic(item.words, item.style, item.source, first->notes);
        if (syllable_count(fitted) == first->notes) desc.texts[item.text] = fitted;
    }
}

void song_check_sung_notes(const SongData& song, const std::vector<std::string>& texts, const std::string& where,
                           Warnings& warnings)
{
    for (const Stretch& s : voice_stretches(song)) {
        const int syllables = s.text < texts.size() ? syllable_count(texts[s.text]) : 0;
        const std::string head = "song channel 15 sings text " + std::to_string(s.text) + " to " +
                                 count_of(s.notes, "note") + " (ticks " + std::to_string(s.first) + " to " +
                                 std::to_string(s.last) + "), ";
        if (syllables == 0)
            warnings.add(where, head + "but the text has no syllable (\"!\") to start on them");
        else if (s.notes < syllables)
            warnings.add(where,
                         head + "but the text has " + count_of(syllables, "syllable") + ": " +
                             (syllables - s.notes == 1 ? std::string("the last has")
                                                       : "the last " + std::to_string(syllables - s.notes) + " have") +
                             " no note");
        else if (s.notes % syllables != 0)
            warnings.add(where, head + "but the text has " + count_of(syllables, "syllable") + ": the last " +
                                    (s.notes % syllables == 1 ? std::string("note starts")
                                                              : std::to_string(s.notes % syllables) + " notes start") +
                                    " it again");
    }
}
