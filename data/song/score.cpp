// "Lanterns on the Water": the score of the song Cantilena carries.
//
// This program writes the song's MIDI file (format 1, 96 ticks a quarter
// note, 100 quarter notes a minute, 4/4) to the path given as its argument;
// SONG.yaml then gives each MIDI channel its patch. The output is the same
// bytes on every run: nothing here is random.
//
// The music is written as data. Pitches are concert pitch with C4 = 60 (the
// channels that play them are transposed an octave in SONG.yaml, because the
// synthesizer's note 60 sounds at 130.8 Hz). A melody is a string of tokens,
// bars separated by "|":
//
//   A3/8        the note A3 for an eighth        r/4     a quarter rest
//   F4/4.       a dotted quarter                 C#4/2   a half note
//   E4/8:terns  the syllable the voice sings on this note (for the reader)
//   G4/4.:lights,    a trailing comma leaves a sixteenth's breath after it
//
// and every bar must add up to four beats. Chords, bass lines, arpeggios and
// drums are patterns stepped over the chord chart of each section.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/midi_file.h"
#include "tools/output_file.h"

namespace {

constexpr uint32_t kQuarter = 96;        // ticks per quarter note
constexpr uint32_t kBar = 4 * kQuarter;  // 4/4 throughout
constexpr uint32_t kSixteenth = kQuarter / 4;
constexpr uint32_t kTempo = 600000;  // microseconds per quarter: 100 a minute

// MIDI channels (counted from 0; SONG.yaml's song channel c plays MIDI channel c + 1).
enum Channel : int {
    kKick = 0,
    kSnare = 1,
    kHats = 2,
    kBass = 3,
    kPad = 4,
    kLead = 5,
    kArp = 6,
    kBell = 7,
    kVoice = 15,  // the speech channel
};

// The program each channel selects (SONG.yaml maps them to patch files).
struct Instrument {
    Channel channel;
    int program;
    const char* name;
};
const Instrument kInstruments[] = {
    {kKick, 0, "kick"}, {kSnare, 1, "snare"},  {kHats, 2, "hats"}, {kBass, 3, "bass"},   {kPad, 4, "pad"},
    {kLead, 5, "lead"}, {kArp, 6, "arpeggio"}, {kBell, 7, "bell"}, {kVoice, 8, "voice"},
};

// Drum keys: the hat patch lengthens its decay with the key (open hat).
constexpr int kKickKey = 36;
constexpr int kSnareKey = 38;
constexpr int kClosedHatKey = 42;
constexpr int kOpenHatKey = 54;

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "score: %s\n", what.c_str());
    std::exit(1);
}

struct Event {
    uint32_t tick;
    int order;  // at one tick: note-offs, then controllers, then note-ons
    uint8_t bytes[3];
};

std::vector<Event> g_tracks[16];

void add_event(int channel, uint32_t tick, int order, uint8_t status, uint8_t a, uint8_t b)
{
    g_tracks[channel].push_back(Event{tick, order, {static_cast<uint8_t>(status | channel), a, b}});
}

void note(int channel, uint32_t start, uint32_t length, int key, int velocity)
{
    if (length == 0) fail("a note without length");
    if (key < 0 || key > 127) fail("key out of range: " + std::to_string(key));
    velocity = std::clamp(velocity, 1, 127);
    add_event(channel, start, 2, kMidiNoteOn, static_cast<uint8_t>(key), static_cast<uint8_t>(velocity));
    add_event(channel, start + length, 0, kMidiNoteOff, static_cast<uint8_t>(key), 0);
}

void controller(int channel, uint32_t tick, int number, int value)
{
    add_event(channel, tick, 1, kMidiController, static_cast<uint8_t>(number),
              static_cast<uint8_t>(std::clamp(value, 0, 127)));
}

// A controller moving from one value to another in even steps, one a beat.
void ramp(int channel, int number, uint32_t from_bar, uint32_t to_bar, int from, int to)
{
    const uint32_t beats = (to_bar - from_bar) * 4;
    for (uint32_t i = 0; i <= beats; ++i) {
        const int value = from + (to - from) * static_cast<int>(i) / static_cast<int>(beats);
        controller(channel, from_bar * kBar + i * kQuarter, number, value);
    }
}

int pitch(const std::string& name)
{
    static const int kSteps[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    if (name.empty() || name[0] < 'A' || name[0] > 'G') fail("not a pitch: " + name);
    int value = kSteps[name[0] - 'A'];
    size_t i = 1;
    for (; i < name.size() && (name[i] == '#' || name[i] == 'b'); ++i) value += name[i] == '#' ? 1 : -1;
    if (i >= name.size()) fail("pitch without octave: " + name);
    const int octave = std::atoi(name.c_str() + i);
    return value + 12 * (octave + 1);
}

std::vector<int> pitches(const std::string& list)
{
    std::vector<int> out;
    size_t at = 0;
    while (at < list.size()) {
        const size_t end = std::min(list.find(' ', at), list.size());
        if (end > at) out.push_back(pitch(list.substr(at, end - at)));
        at = end + 1;
    }
    return out;
}

struct MelodyNote {
    uint32_t start;   // ticks from the line's start
    uint32_t length;  // written length
    int key;          // -1: a rest
    bool breath;      // a sixteenth's silence after it
};

// Parses a melody line; every bar must hold exactly four beats.
std::vector<MelodyNote> parse_melody(const std::string& text)
{
    std::vector<MelodyNote> notes;
    uint32_t at = 0;
    uint32_t bar_start = 0;
    int bar_number = 1;
    size_t i = 0;
    auto end_bar = [&] {
        if (at - bar_start != kBar)
            fail("bar " + std::to_string(bar_number) + " of \"" + text + "\" holds " + std::to_string(at - bar_start) +
                 " ticks, not " + std::to_string(kBar));
        bar_start = at;
        ++bar_number;
    };
    while (i < text.size()) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        if (text[i] == '|') {
            end_bar();
            ++i;
            continue;
        }
        size_t end = text.find_first_of(" |", i);
        if (end == std::string::npos) end = text.size();
        std::string token = text.substr(i, end - i);
        i = end;
        const bool breath = token.back() == ',';
        if (breath) token.pop_back();
        const size_t colon = token.find(':');
        if (colon != std::string::npos) token = token.substr(0, colon);  // the syllable is for the reader
        const size_t slash = token.find('/');
        if (slash == std::string::npos) fail("token without a duration: " + token);
        const std::string name = token.substr(0, slash);
        std::string value = token.substr(slash + 1);
        const bool dotted = !value.empty() && value.back() == '.';
        if (dotted) value.pop_back();
        const int division = std::atoi(value.c_str());
        if (division <= 0 || (4 * kQuarter) % static_cast<uint32_t>(division) != 0) fail("bad duration: " + token);
        uint32_t length = 4 * kQuarter / static_cast<uint32_t>(division);
        if (dotted) length += length / 2;
        notes.push_back(MelodyNote{at, length, name == "r" ? -1 : pitch(name), breath});
        at += length;
    }
    end_bar();
    return notes;
}

// Plays a melody line from the start of a bar. Each note ends `gap` ticks
// early (a sixteenth with a breath mark) unless a rest follows it, so that a
// sung syllable's final consonant has time before the next note.
void play_melody(int channel, uint32_t bar, const std::string& text, int transpose, int velocity, uint32_t gap)
{
    const std::vector<MelodyNote> line = parse_melody(text);
    const uint32_t start = bar * kBar;
    for (size_t n = 0; n < line.size(); ++n) {
        const MelodyNote& m = line[n];
        if (m.key < 0) continue;
        const bool rest_follows = n + 1 == line.size() || line[n + 1].key < 0;
        const uint32_t cut = rest_follows ? 0 : (m.breath ? kSixteenth : gap);
        // Notes on the beat lean a little harder, the downbeat most.
        const uint32_t in_bar = m.start % kBar;
        const int accent = in_bar == 0 ? 8 : in_bar % kQuarter == 0 ? 4 : 0;
        note(channel, start + m.start, m.length - cut, m.key + transpose, velocity + accent);
    }
}

struct Chord {
    const char* name;
    const char* bass;  // the bass line's root
    const char* pad;   // the pad's voicing
    const char* arp;   // five tones, low to high, for the arpeggio
};

// In D minor; a section's key moves them all.
const Chord kChords[] = {
    {"Dm9", "D2", "F3 A3 C4 E4", "D4 F4 A4 C5 E5"},   {"Bbmaj9", "Bb1", "F3 A3 C4 D4", "Bb3 D4 F4 A4 C5"},
    {"Gm9", "G1", "F3 A3 Bb3 D4", "G3 Bb3 D4 F4 A4"}, {"A7sus4", "A1", "E3 G3 A3 D4", "A3 D4 E4 G4 A4"},
    {"A7", "A1", "E3 G3 A3 C#4", "A3 C#4 E4 G4 A4"},  {"Bbmaj7", "Bb1", "F3 A3 Bb3 D4", "Bb3 D4 F4 A4 Bb4"},
    {"Cadd9", "C2", "G3 C4 D4 E4", "C4 E4 G4 C5 D5"}, {"Dm", "D2", "F3 A3 D4 E4", "D4 E4 F4 A4 D5"},
    {"Am7", "A1", "E3 G3 A3 C4", "A3 C4 E4 G4 A4"},   {"Gm7", "G1", "F3 G3 Bb3 D4", "G3 Bb3 D4 F4 G4"},
    {"F/A", "A1", "E3 A3 C4 F4", "A3 C4 E4 F4 A4"},   {"Csus2", "C2", "G3 C4 D4 G4", "C4 D4 G4 C5 D5"},
    {"C", "C2", "G3 C4 E4 G4", "C4 E4 G4 C5 E5"},
};

const Chord& chord(const std::string& name)
{
    for (const Chord& c : kChords)
        if (name == c.name) return c;
    fail("unknown chord: " + name);
}

struct ChordSpan {
    uint32_t start;
    uint32_t length;
    const Chord* chord;
    int key;
};

std::vector<ChordSpan> g_chart;  // the whole song's chords, in order

// Lays a chord progression ("Dm9 | Bbmaj9 | ...") over a section's bars,
// repeating it as often as the section needs. Chords sharing a bar share it
// equally.
void lay_chords(uint32_t first_bar, uint32_t bars, int key, const std::string& progression)
{
    std::vector<std::vector<std::string>> chart(1);
    std::string word;
    for (size_t i = 0; i <= progression.size(); ++i) {
        const char c = i < progression.size() ? progression[i] : ' ';
        if (c == ' ' || c == '|') {
            if (!word.empty()) chart.back().push_back(word);
            word.clear();
            if (c == '|') chart.emplace_back();
        } else {
            word += c;
        }
    }
    for (uint32_t b = 0; b < bars; ++b) {
        const std::vector<std::string>& in_bar = chart[b % chart.size()];
        const uint32_t share = kBar / static_cast<uint32_t>(in_bar.size());
        for (size_t k = 0; k < in_bar.size(); ++k)
            g_chart.push_back(
                ChordSpan{(first_bar + b) * kBar + static_cast<uint32_t>(k) * share, share, &chord(in_bar[k]), key});
    }
}

const ChordSpan& chord_at(uint32_t tick)
{
    for (const ChordSpan& span : g_chart)
        if (tick >= span.start && tick < span.start + span.length) return span;
    fail("no chord at tick " + std::to_string(tick));
}

struct Section {
    const char* name;
    uint32_t bars;
    int key;  // semitones above D minor
    const char* progression;
};

const char kVerseChords[] = "Dm9 | Bbmaj9 | Gm9 | A7sus4 A7";
const char kChorusChords[] = "Bbmaj7 | Cadd9 | Dm | Am7 | Bbmaj7 | Cadd9 | Gm7 | A7sus4 A7";
const char kBridgeChords[] = "Gm9 | Bbmaj7 | F/A | Dm | Gm9 | Bbmaj7 | Csus2 C | A7sus4 A7";
const char kOutroChords[] = "Dm9 | Bbmaj9 | Gm9 | A7sus4 A7 | Dm9 | Dm9";

const Section kForm[] = {
    {"intro", 8, 0, kVerseChords},      //   0.0 s
    {"verse 1", 16, 0, kVerseChords},   //  19.2 s
    {"chorus 1", 8, 0, kChorusChords},  //  57.6 s
    {"solo", 8, 0, kChorusChords},      //  76.8 s
    {"verse 2", 8, 0, kVerseChords},    //  96.0 s
    {"chorus 2", 8, 0, kChorusChords},  // 115.2 s
    {"bridge", 8, 0, kBridgeChords},    // 134.4 s
    {"chorus 3", 8, 2, kChorusChords},  // 153.6 s, a whole tone up
    {"outro", 6, 2, kOutroChords},      // 172.8 s; the last chord ends at 187.2 s
};

struct Placed {
    uint32_t bar;  // first bar
    int key;
};

Placed section(const char* name)
{
    uint32_t bar = 0;
    for (const Section& s : kForm) {
        if (std::string(name) == s.name) return Placed{bar, s.key};
        bar += s.bars;
    }
    fail(std::string("no section ") + name);
}

// The pad holds every chord tone that the next chord keeps, so the voicings
// move like voices and only the changing tones strike again.
void play_pad(uint32_t from_bar, uint32_t to_bar, int velocity)
{
    struct Held {
        int key;
        uint32_t start;
    };
    std::vector<Held> held;
    const uint32_t end = to_bar * kBar;
    for (uint32_t tick = from_bar * kBar; tick < end;) {
        const ChordSpan& span = chord_at(tick);
        std::vector<int> keys = pitches(span.chord->pad);
        for (int& k : keys) k += span.key;
        std::vector<Held> next;
        for (const Held& h : held) {
            if (std::find(keys.begin(), keys.end(), h.key) != keys.end())
                next.push_back(h);
            else
                note(kPad, h.start, tick - h.start, h.key, velocity);
        }
        for (int k : keys)
            if (std::none_of(next.begin(), next.end(), [k](const Held& h) { return h.key == k; }))
                next.push_back(Held{k, tick});
        held = next;
        tick = span.start + span.length;
    }
    for (const Held& h : held) note(kPad, h.start, end - h.start, h.key, velocity);
}

// Bass patterns, one character a sixteenth: R the chord's root, O its
// octave, 5 its fifth, - holds the note before, . is silence.
const char kBassLong[] = "R---------------";
const char kBassVerse[] = "R-------R--.R-5-";
const char kBassChorus[] = "R-R-O-R-R-R-O-5-";
const char kBassBridge[] = "R-------R-------";

// A pattern longer than a bar spans several.
void play_bass(uint32_t from_bar, uint32_t to_bar, const char* pattern, int velocity)
{
    const uint32_t steps = static_cast<uint32_t>(std::string(pattern).size());
    for (uint32_t start = from_bar * kBar; start < to_bar * kBar; start += steps * kSixteenth) {
        for (uint32_t s = 0; s < steps; ++s) {
            const char c = pattern[s];
            if (c == '-' || c == '.') continue;
            uint32_t length = 1;
            while (s + length < steps && pattern[s + length] == '-') ++length;
            const uint32_t tick = start + s * kSixteenth;
            const ChordSpan& span = chord_at(tick);
            const int root = pitch(span.chord->bass) + span.key;
            const int key = c == 'O' ? root + 12 : c == '5' ? root + 7 : root;
            const int accent = s == 0 ? 10 : s % 4 == 0 ? 4 : 0;
            note(kBass, tick, length * kSixteenth, key, velocity + accent);
        }
    }
}

// Arpeggio patterns: a digit picks one of the chord's five arpeggio tones,
// one character an eighth.
const char kArpRising[] = "01234321";
const char kArpWeave[] = "02132431";

void play_arpeggio(uint32_t from_bar, uint32_t to_bar, const char* pattern, int velocity)
{
    const uint32_t step = kQuarter / 2;
    for (uint32_t bar = from_bar; bar < to_bar; ++bar) {
        for (uint32_t s = 0; s < 8; ++s) {
            const uint32_t tick = bar * kBar + s * step;
            const ChordSpan& span = chord_at(tick);
            const std::vector<int> tones = pitches(span.chord->arp);
            const int key = tones[static_cast<size_t>(pattern[s] - '0')] + span.key;
            note(kArp, tick, step - kSixteenth / 2, key, velocity + (s % 2 == 0 ? 8 : 0));
        }
    }
}

// One character a sixteenth: X accent, x normal, o soft, O an open hat,
// . nothing. A pattern shorter than a bar repeats.
void play_drum(int channel, int key, uint32_t from_bar, uint32_t to_bar, const char* pattern, double loudness)
{
    const uint32_t steps = static_cast<uint32_t>(std::string(pattern).size());
    for (uint32_t bar = from_bar; bar < to_bar; ++bar) {
        for (uint32_t s = 0; s < 16; ++s) {
            const char c = pattern[s % steps];
            int velocity = 0;
            int k = key;
            switch (c) {
            case 'X':
                velocity = 118;
                break;
            case 'x':
                velocity = 92;
                break;
            case 'o':
                velocity = 62;
                break;
            case 'O':
                velocity = 100;
                k = kOpenHatKey;
                break;
            default:
                continue;
            }
            const uint32_t length = c == 'O' ? 2 * kSixteenth : kSixteenth;
            note(channel, bar * kBar + s * kSixteenth, length, k, static_cast<int>(velocity * loudness));
        }
    }
}

// A snare roll that swells across its bars, in sixteenths.
void snare_roll(uint32_t from_bar, uint32_t to_bar, const char* pattern, int from_velocity, int to_velocity)
{
    const uint32_t steps = (to_bar - from_bar) * 16;
    for (uint32_t i = 0; i < steps; ++i) {
        if (pattern[i % 16] == '.') continue;
        const int velocity =
            from_velocity + (to_velocity - from_velocity) * static_cast<int>(i) / static_cast<int>(steps);
        note(kSnare, from_bar * kBar + i * kSixteenth, kSixteenth, kSnareKey, velocity);
    }
}

const char kKickHalf[] = "X.........x.....";
const char kKickFour[] = "X...x...X...x...";
const char kKickDrive[] = "X...x...X...x.x.";
const char kSnareThree[] = "........X.......";
const char kSnareBack[] = "....X.......X...";
const char kSnareFill[] = "....X.......X.xx";
const char kHatsEighths[] = "x.o.x.o.x.o.x.o.";
const char kHatsEighthsOpen[] = "x.o.x.o.x.o.x.O.";
const char kHatsSixteenths[] = "xoxoXoxoxoxoXoxo";
const char kHatsSixteenthsOpen[] = "xoxoXoxoxoxoXoOo";

// The groove of a verse (half time) and of a chorus (four on the floor);
// the last bar of each runs into the next section with a fill.
void verse_groove(uint32_t from_bar, uint32_t to_bar)
{
    play_drum(kKick, kKickKey, from_bar, to_bar, kKickHalf, 1.0);
    play_drum(kSnare, kSnareKey, from_bar, to_bar - 1, kSnareThree, 0.85);
    play_drum(kSnare, kSnareKey, to_bar - 1, to_bar, "........X...x.xX", 0.9);
    for (uint32_t bar = from_bar; bar < to_bar; ++bar)
        play_drum(kHats, kClosedHatKey, bar, bar + 1, (bar - from_bar) % 4 == 3 ? kHatsEighthsOpen : kHatsEighths, 0.9);
}

void chorus_groove(uint32_t from_bar, uint32_t to_bar, const char* kick)
{
    play_drum(kKick, kKickKey, from_bar, to_bar, kick, 1.0);
    play_drum(kSnare, kSnareKey, from_bar, to_bar - 1, kSnareBack, 1.0);
    play_drum(kSnare, kSnareKey, to_bar - 1, to_bar, kSnareFill, 1.0);
    for (uint32_t bar = from_bar; bar < to_bar; ++bar)
        play_drum(kHats, kClosedHatKey, bar, bar + 1, (bar - from_bar) % 2 == 1 ? kHatsSixteenthsOpen : kHatsSixteenths,
                  0.85);
}

// The bell's motif: a call over the first two chords, an answer over the
// last two.
const char kBellCall[] = "r/8 A4/8 D5/8 E5/8 F5/4 E5/4 | D5/4. C5/8 D5/2";
const char kBellAnswer[] = "r/8 G4/8 Bb4/8 D5/8 F5/4 E5/4 | E5/2 C#5/2";
const char kBellBridge[] = "D5/2 A4/2 | F5/2 C5/2 | E5/2 C5/2 | A4/1 | D5/2 A4/2 | F5/2 D5/2 | D5/2 E5/2 | E5/2 C#5/2";

// The lead's solo over the chorus chords, and its counter-melody in the
// last chorus.
const char kLeadSolo[] =
    "D5/4. C5/8 D5/8 F5/4. | E5/8 D5/8 C5/8 G4/4. E5/4 | F5/4. E5/8 D5/4 A4/4 | C5/4 E5/4 A4/2 |"
    "D5/8 F5/8 A5/4. G5/8 F5/8 D5/8 | E5/4. G5/8 E5/4 C5/4 | D5/8 F5/8 Bb5/4. A5/8 G5/8 F5/8 | E5/2 C#5/4 A4/4";
const char kLeadCounter[] = "F5/1 | E5/1 | D5/2 F5/2 | E5/1 | F5/2 A5/2 | G5/1 | F5/2 D5/2 | E5/2 C#5/2";

// The voice. Each line is two bars; the syllables are those of the
// phonetic texts in SONG.yaml (text 0 the first verse, 1 the chorus,
// 2 the second verse, 3 the bridge, 4 the ending).
const char* const kVerseOne[] = {
    "r/4 A3/8:Pa D4/8:per F4/4.:lan E4/8:terns | D4/8:on C4/8:the D4/4:ri A3/2:ver",
    "r/4 A3/8:car D4/8:ry F4/4:all G4/8:we A4/8:could | G4/4:not F4/2.:say",
    "r/4 A3/8:Ev D4/8:ery F4/4.:light E4/8:a | D4/8:lit C4/8:tle D4/4:long E4/2:ing",
    "r/4 A3/8:float D4/8:ing F4/4:slow E4/8:ly F4/8:far | G4/4:a A4/2.:way",
};

const char kChorus[] =
    "F4/4.:Rise D4/8:lit F4/8:tle G4/4.:lights, | G4/8:o A4/8:ver G4/8:the E4/4.:wa D4/4:ter |"
    "F4/4.:rise D4/8:and F4/8:re G4/8:mem A4/4:ber | G4/8:the A4/4:way G4/8:back, E4/2:home |"
    "F4/4.:Rise D4/8:lit F4/8:tle G4/4.:lights, | G4/8:o A4/8:ver G4/8:the E4/4.:wa D4/4:ter |"
    "F4/8:car G4/8:ry A4/8:us, Bb4/4.:all A4/8:till G4/8:the | A4/4:mor G4/4:ning E4/4:comes r/4";

const char* const kVerseTwo[] = {
    "r/4 A3/8:Ev D4/8:ery F4/4.:em E4/8:ber | D4/8:has C4/8:a D4/4:sto F4/4:ry r/4",
    "r/4 Bb3/8:ev D4/8:ery G4/4.:sto F4/8:ry | E4/8:finds D4/8:the E4/2.:sea",
    "r/4 A3/8:When D4/8:the F4/4.:mor E4/8:ning | D4/8:comes C4/8:to D4/4:find F4/4:us r/4",
    "r/4 Bb3/8:hold D4/8:a G4/4.:light F4/8:for | E4/8:you D4/8:and E4/2:me r/4",
};

const char kBridge[] =
    "D4/2:Hold F4/4:on G4/4:to | A4/4:the F4/2.:flame | C4/4:through E4/4:the F4/4:long E4/4:est | D4/1:night |"
    "D4/2:hold F4/4:on G4/4:to | A4/4:the Bb4/2.:flame | G4/4:till A4/4:the G4/4:dark E4/4:is | E4/2.:light r/4";

const char kEnding[] = "F4/2:Rise D4/4:lit F4/4:tle | A4/1:lights, | A4/2:car G4/4:ry F4/4:us | r/1 | D4/1:home";

// Controller 4 on the speech channel: 0..62 select a text, 63 and above set
// the speech speed (value - 63 engine blocks a phoneme step). Controller 5
// scales the formants: 64 as written, lower darker.
constexpr int kSpeechSelect = 4;
constexpr int kSpeechFormants = 5;
constexpr int kSpeedBrisk = 65;    // two blocks a step: crisp consonants for the quick lines
constexpr int kSpeedCalm = 66;     // three blocks a step, for the bridge's long notes
constexpr int kFormantsDark = 44;  // the bridge sung in a darker, larger voice
constexpr int kFormantsOpen = 64;

// The gap after a sung note: long enough for the syllable's last consonant
// at the brisk speed; the bridge's slower speed needs a sixteenth.
constexpr uint32_t kBreath = kSixteenth / 2;

void sing(uint32_t bar, const char* line, int transpose, uint32_t gap = kBreath)
{
    play_melody(kVoice, bar, line, transpose, 100, gap);
}

// A cue for the speech channel a given number of sixteenths before a bar.
void speech_cue(uint32_t bar, uint32_t sixteenths_before, int number, int value)
{
    controller(kVoice, bar * kBar - sixteenths_before * kSixteenth, number, value);
}

// The lead's modulation wheel opens the vibrato over each long note.
void lead_line(uint32_t bar, const char* line, int transpose, int velocity)
{
    play_melody(kLead, bar, line, transpose, velocity, kSixteenth / 2);
    for (const MelodyNote& m : parse_melody(line)) {
        if (m.key < 0) continue;
        const uint32_t start = bar * kBar + m.start;
        controller(kLead, start, 1, 0);
        if (m.length >= kQuarter)
            for (int i = 1; i <= 4; ++i) controller(kLead, start + m.length * static_cast<uint32_t>(i) / 6, 1, 18 * i);
    }
}

void arrange()
{
    uint32_t bar = 0;
    for (const Section& s : kForm) {
        lay_chords(bar, s.bars, s.key, s.progression);
        bar += s.bars;
    }
    const uint32_t end_bar = bar;

    const Placed intro = section("intro");
    const Placed verse1 = section("verse 1");
    const Placed chorus1 = section("chorus 1");
    const Placed solo = section("solo");
    const Placed verse2 = section("verse 2");
    const Placed chorus2 = section("chorus 2");
    const Placed bridge = section("bridge");
    const Placed chorus3 = section("chorus 3");
    const Placed outro = section("outro");

    // The pad plays from the first beat to the last and keeps the reverb fed;
    // its volume (controller 7) rises through the intro.
    play_pad(0, end_bar, 80);
    controller(kPad, 0, 7, 20);
    ramp(kPad, 7, intro.bar, intro.bar + 4, 20, 80);
    ramp(kPad, 7, verse1.bar, verse1.bar + 1, 80, 70);
    for (const Placed& c : {chorus1, chorus2, chorus3}) ramp(kPad, 7, c.bar - 1, c.bar, 70, 88);
    for (const Placed& v : {verse2, bridge}) ramp(kPad, 7, v.bar, v.bar + 1, 88, 70);
    ramp(kPad, 7, bridge.bar + 1, bridge.bar + 4, 70, 100);
    ramp(kPad, 7, bridge.bar + 6, chorus3.bar - 1, 100, 70);

    // Intro: the bell's motif over the pad; the arpeggio and a soft bass join
    // halfway, the hats for the last two bars.
    play_melody(kBell, intro.bar + 0, kBellCall, 0, 96, 0);
    play_melody(kBell, intro.bar + 2, kBellAnswer, 0, 90, 0);
    play_melody(kBell, intro.bar + 4, kBellCall, 0, 96, 0);
    play_melody(kBell, intro.bar + 6, kBellAnswer, 0, 90, 0);
    play_arpeggio(intro.bar + 4, verse1.bar, kArpRising, 70);
    play_bass(intro.bar + 4, verse1.bar, kBassLong, 70);
    play_drum(kHats, kClosedHatKey, intro.bar + 6, verse1.bar, kHatsEighths, 0.6);

    // The arpeggio's filter (controller 1) opens over the song and closes
    // at its end; the bass brightens in the choruses the same way.
    ramp(kArp, 1, intro.bar + 4, verse1.bar, 0, 40);
    ramp(kArp, 1, chorus1.bar - 1, chorus1.bar, 40, 80);
    ramp(kArp, 1, verse2.bar, verse2.bar + 1, 80, 56);
    ramp(kArp, 1, chorus2.bar - 1, chorus2.bar, 56, 90);
    ramp(kArp, 1, bridge.bar, bridge.bar + 2, 90, 30);
    ramp(kArp, 1, bridge.bar + 4, chorus3.bar, 30, 100);
    ramp(kArp, 1, outro.bar + 2, end_bar, 100, 10);
    struct Mark {
        uint32_t bar;
        int value;
    };
    for (const Mark& mark : {Mark{0, 20}, Mark{chorus1.bar, 64}, Mark{verse2.bar, 20}, Mark{chorus2.bar, 64},
                             Mark{bridge.bar, 20}, Mark{chorus3.bar, 72}, Mark{outro.bar, 20}})
        controller(kBass, mark.bar * kBar, 1, mark.value);

    // Verse 1: half-time drums, the bass's first groove, the voice in four
    // lines with the bell answering each.
    verse_groove(verse1.bar, chorus1.bar);
    play_bass(verse1.bar, chorus1.bar, kBassVerse, 84);
    play_arpeggio(verse1.bar, chorus1.bar, kArpRising, 78);
    speech_cue(verse1.bar, 16, kSpeechSelect, kSpeedBrisk);
    for (uint32_t line = 0; line < 4; ++line) {
        sing(verse1.bar + 4 * line, kVerseOne[line], verse1.key);
        play_melody(kBell, verse1.bar + 4 * line + 2, kBellAnswer, verse1.key, 84, 0);
    }

    // Chorus 1 and the solo: four on the floor, the bass in eighths.
    speech_cue(chorus1.bar, 4, kSpeechSelect, 1);
    chorus_groove(chorus1.bar, verse2.bar, kKickFour);
    play_bass(chorus1.bar, verse2.bar, kBassChorus, 96);
    play_arpeggio(chorus1.bar, verse2.bar, kArpWeave, 80);
    sing(chorus1.bar, kChorus, chorus1.key);
    lead_line(solo.bar, kLeadSolo, solo.key, 100);

    // Verse 2: the lines follow each other closely.
    speech_cue(verse2.bar, 4, kSpeechSelect, 2);
    verse_groove(verse2.bar, chorus2.bar);
    play_bass(verse2.bar, chorus2.bar, kBassVerse, 84);
    play_arpeggio(verse2.bar, chorus2.bar, kArpRising, 78);
    for (uint32_t line = 0; line < 4; ++line) sing(verse2.bar + 2 * line, kVerseTwo[line], verse2.key);

    // Chorus 2.
    speech_cue(chorus2.bar, 2, kSpeechSelect, 1);
    chorus_groove(chorus2.bar, bridge.bar, kKickFour);
    play_bass(chorus2.bar, bridge.bar, kBassChorus, 96);
    play_arpeggio(chorus2.bar, bridge.bar, kArpWeave, 80);
    sing(chorus2.bar, kChorus, chorus2.key);

    // Bridge: the drums fall away; the voice sings slower and darker over
    // the bell, then a snare roll swells into the last chorus.
    speech_cue(bridge.bar, 2, kSpeechSelect, 3);
    speech_cue(bridge.bar, 1, kSpeechSelect, kSpeedCalm);
    speech_cue(bridge.bar, 1, kSpeechFormants, kFormantsDark);
    play_bass(bridge.bar, chorus3.bar, kBassBridge, 84);
    play_arpeggio(bridge.bar, chorus3.bar, kArpRising, 66);
    play_drum(kHats, kClosedHatKey, bridge.bar, bridge.bar + 6, kHatsEighths, 0.6);
    play_drum(kKick, kKickKey, bridge.bar + 4, bridge.bar + 6, "X.......X.......", 0.8);
    snare_roll(bridge.bar + 6, bridge.bar + 7, "x.x.x.x.x.x.x.x.", 30, 56);
    snare_roll(bridge.bar + 7, chorus3.bar, "xxxxxxxxxxxxxxxx", 50, 100);
    play_drum(kKick, kKickKey, bridge.bar + 6, chorus3.bar, kKickFour, 0.9);
    play_melody(kBell, bridge.bar, kBellBridge, bridge.key, 80, 0);
    sing(bridge.bar, kBridge, bridge.key, kSixteenth);

    // Chorus 3, a whole tone up: the voice opens again, the lead sings above it.
    speech_cue(chorus3.bar, 2, kSpeechSelect, 1);
    speech_cue(chorus3.bar, 1, kSpeechSelect, kSpeedBrisk);
    speech_cue(chorus3.bar, 1, kSpeechFormants, kFormantsOpen);
    chorus_groove(chorus3.bar, outro.bar, kKickDrive);
    play_bass(chorus3.bar, outro.bar, kBassChorus, 100);
    play_arpeggio(chorus3.bar, outro.bar, kArpWeave, 84);
    sing(chorus3.bar, kChorus, chorus3.key);
    lead_line(chorus3.bar, kLeadCounter, chorus3.key, 84);

    // Outro: the groove thins out bar by bar; the voice sings the last words
    // over the home chord, which the pad, bass and bell hold to the end.
    speech_cue(outro.bar, 1, kSpeechSelect, 4);
    chorus_groove(outro.bar, outro.bar + 2, kKickFour);
    play_drum(kKick, kKickKey, outro.bar + 2, outro.bar + 4, kKickHalf, 0.8);
    play_drum(kHats, kClosedHatKey, outro.bar + 2, outro.bar + 4, kHatsEighths, 0.6);
    play_drum(kKick, kKickKey, outro.bar + 4, outro.bar + 5, "X...............", 1.0);
    play_drum(kSnare, kSnareKey, outro.bar + 4, outro.bar + 5, "X...............", 0.9);
    play_bass(outro.bar, outro.bar + 4, kBassVerse, 90);
    play_bass(outro.bar + 4, end_bar, "R-------------------------------", 84);
    play_arpeggio(outro.bar, outro.bar + 4, kArpRising, 76);
    play_melody(kBell, outro.bar, kBellCall, outro.key, 88, 0);
    play_melody(kBell, outro.bar + 2, kBellAnswer, outro.key, 80, 0);
    play_melody(kBell, outro.bar + 4, "D6/1 | r/1", outro.key, 70, 0);
    sing(outro.bar, kEnding, outro.key);
}

MidiEvent track_name(const std::string& name)
{
    return midi_meta_event(0, kMetaTrackName, std::vector<uint8_t>(name.begin(), name.end()));
}

MidiFile midi_file()
{
    MidiFile file;
    file.format = 1;
    file.division = kQuarter;

    MidiTrack& meter = file.tracks.emplace_back();
    meter.events.push_back(track_name("Lanterns on the Water"));
    meter.events.push_back(midi_tempo_event(0, kTempo));
    meter.events.push_back(midi_time_signature_event(0, 4, 2, 8));  // 4/4, eight 32nds a quarter

    for (const Instrument& instrument : kInstruments) {
        std::vector<Event>& events = g_tracks[instrument.channel];
        std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
            return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
        });
        MidiTrack& track = file.tracks.emplace_back();
        track.events.push_back(track_name(instrument.name));
        track.events.push_back(midi_channel_event(0, static_cast<uint8_t>(kMidiProgram | instrument.channel),
                                                  static_cast<uint8_t>(instrument.program)));
        for (const Event& e : events)
            track.events.push_back(midi_channel_event(e.tick, e.bytes[0], e.bytes[1], e.bytes[2]));
    }
    return file;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.mid\nWrites the MIDI file of \"Lanterns on the Water\".\n", argv[0]);
        return 2;
    }
    arrange();
    try {
        output_write_file(argv[1], midi_write(midi_file()));
    } catch (const AuthorError& e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    return 0;
}
