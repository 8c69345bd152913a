#include "tools/midi_import.h"

#include <algorithm>

#include "tools/note_pairing.h"

namespace {

constexpr uint32_t kSmpteQuarterMicroseconds = 1000000;      // one quarter a second
constexpr uint32_t kDropFrameQuarterMicroseconds = 1001000;  // 29.97 frames a second: 30 frames take 1.001 s
constexpr uint8_t kMaxDenominatorLog2 = 7;                   // 2^7 = 128, the largest note value a byte holds

// One event of the file with its track, in the merged order of all tracks.
struct Merged {
    const MidiEvent* event;
    int track;
};

EventOrigin origin_of(const Merged& m)
{
    return {m.track, m.event->offset};
}

std::vector<Merged> merge_tracks(const MidiFile& file)
{
    std::vector<Merged> merged;
    for (size_t t = 0; t < file.tracks.size(); ++t)
        for (const MidiEvent& event : file.tracks[t].events) merged.push_back({&event, static_cast<int>(t)});
    std::stable_sort(merged.begin(), merged.end(),
                     [](const Merged& a, const Merged& b) { return a.event->tick < b.event->tick; });
    return merged;
}

uint64_t file_end_tick(const MidiFile& file)
{
    uint64_t end = 0;
    for (const MidiTrack& track : file.tracks) {
        end = std::max(end, track.end_tick);
        if (!track.events.empty()) end = std::max(end, track.events.back().tick);
    }
    return end;
}

struct MeterState {
    uint32_t tempo = kDefaultTempoWord;
    uint8_t numerator = kDefaultNumerator;
    uint8_t denominator = kDefaultDenominator;
    uint8_t subdivision = kDefaultSubdivision;

    bool operator==(const MeterState&) const = default;
};

GlobalEvent global_from(uint64_t tick, const MeterState& state, const EventOrigin& origin)
{
    return {static_cast<uint32_t>(tick), state.tempo, state.numerator, state.denominator, state.subdivision, origin};
}

std::vector<GlobalEvent> import_globals(const MidiFile& file, const std::vector<Merged>& merged, bool as_written,
                                        const ImportContext& context)
{
    std::vector<GlobalEvent> globals;
    MeterState state;
    const bool smpte = midi_division_is_smpte(file.division);
    if (smpte) {
        const int frames = -static_cast<int8_t>(file.division >> 8);
        state.tempo = frames == 29 ? kDropFrameQuarterMicroseconds : kSmpteQuarterMicroseconds;
    }
    // The transport plays the first due tick at once, so a song whose first
    // note comes later would lose its lead-in: a global event at tick 0 keeps
    // every tick in its place.
    if (smpte || !as_written) globals.push_back(global_from(0, state, {}));
    MeterState emitted = state;
    bool tempo_ignored = false;
    // In the as-written reading, a time signature directly after a tempo event
    // of the same track and tick joins that tempo's global event.
    int open_track = -1;
    uint64_t open_tick = 0;

    auto flush = [&](uint64_t tick, const EventOrigin& origin) {
        if (!(state == emitted)) {
            if (!globals.empty() && globals.back().tick == tick)
                globals.back() = global_from(tick, state, globals.back().origin);
            else
                globals.push_back(global_from(tick, state, origin));
            emitted = state;
        }
    };

    uint64_t group_tick = 0;
    EventOrigin group_origin;
    bool group_open = false;
    for (const Merged& m : merged) {
        const MidiEvent& event = *m.event;
        if (event.status != kMidiMeta) continue;
        if (event.meta_type != kMetaTempo && event.meta_type != kMetaTimeSignature) continue;
        const EventOrigin origin = origin_of(m);
        if (event.tick > kLastSongTick) context.fail(origin, event.tick, "the event lies past the last usable tick");
        if (!as_written && group_open && event.tick != group_tick) flush(group_tick, group_origin);
        if (!group_open || event.tick != group_tick) {
            group_tick = event.tick;
            group_origin = origin;
            group_open = true;
        }
        if (event.meta_type == kMetaTempo) {
            if (event.payload.size() != 3) {
                context.warnings.add(context.where(origin), context.place(origin, event.tick) + ": a tempo event of " +
                                                                count_of(event.payload.size(), "byte") +
                                                                " (3 expected) is ignored");
                continue;
            }
            if (smpte) {
                if (!tempo_ignored)
                    context.warnings.add(context.where(origin),
                                         context.place(origin, event.tick) +
                                             ": the file counts time in SMPTE frames; its tempo events are ignored");
                tempo_ignored = true;
                continue;
            }
            const uint32_t tempo = (static_cast<uint32_t>(event.payload[0]) << 16) |
                                   (static_cast<uint32_t>(event.payload[1]) << 8) | event.payload[2];
            if (tempo == 0) context.fail(origin, event.tick, "a tempo of 0 microseconds per quarter note");
            if (tempo > kMaxTempoWord)
                context.fail(origin, event.tick,
                             "a tempo of " + std::to_string(tempo) +
                                 " microseconds per quarter note; the song format " + "allows at most " +
                                 std::to_string(kMaxTempoWord) + " (about 6.2 quarter notes a minute)");
            state.tempo = tempo;
            if (as_written) {
                globals.push_back(global_from(event.tick, state, origin));
                open_track = m.track;
                open_tick = event.tick;
            }
        } else {
            if (event.payload.size() < 4) {
                context.warnings.add(context.where(origin),
                                     context.place(origin, event.tick) + ": a time signature of " +
                                         count_of(event.payload.size(), "byte") + " (4 expected) is ignored");
                open_track = -1;
                continue;
            }
            if (event.payload[1] > kMaxDenominatorLog2) {
                context.warnings.add(context.where(origin),
                                     context.place(origin, event.tick) + ": a time signature with denominator 2^" +
                                         std::to_string(event.payload[1]) + " (more than 128) is ignored");
                open_track = -1;
                continue;
            }
            if (event.payload.size() > 4)
                context.warnings.add(context.where(origin), context.place(origin, event.tick) +
                                                                ": a time signature of " +
                                                                std::to_string(event.payload.size()) +
                                                                " bytes; the bytes after the fourth are ignored");
            state.numerator = event.payload[0];
            state.denominator = static_cast<uint8_t>(1u << event.payload[1]);
            state.subdivision = event.payload[3];
            if (as_written) {
                if (open_track == m.track && open_tick == event.tick && !globals.empty()) {
                    globals.back() = global_from(event.tick, state, globals.back().origin);
                } else {
                    globals.push_back(global_from(event.tick, state, origin));
                }
                open_track = -1;
            }
        }
    }
    if (!as_written && group_open) flush(group_tick, group_origin);
    return globals;
}

struct GapLimit {
    uint64_t slowest_tempo;  // samples per quarter x 10000
    uint64_t divisor;        // Q x 10000
};

template <typename Event>
void check_track(const std::vector<Event>& events, const std::string& label, const GapLimit& limit,
                 const ImportContext& context)
{
    uint32_t previous = 0;
    for (const Event& event : events) {
        const uint32_t gap = event.tick - previous;
        if (gap > kMaxEventDelta)
            context.fail(event.origin, event.tick,
                         "this event comes " + std::to_string(gap) + " ticks after the previous event of " + label +
                             " (at tick " + std::to_string(previous) + "); the song format allows at most " +
                             std::to_string(kMaxEventDelta) + " ticks (24 bits) between two events of a track");
        if (static_cast<uint64_t>(gap) * limit.slowest_tempo / limit.divisor + 1 > kMaxFramesPerGap)
            context.fail(event.origin, event.tick,
                         "this event comes " + std::to_string(gap) + " ticks after the previous event of " + label +
                             ", more than 2^32 frames at the song's slowest tempo");
        previous = event.tick;
    }
}

}  // namespace

ImportOptions midi_import_default_options()
{
    ImportOptions options;
    for (int c = 0; c < kSongChannels; ++c) {
        ChannelRoute& route = options.channels[c];
        route.midi_channel = c;
        for (int k = 0; k < kSongControllers; ++k) route.controller_source[k] = k + 1;
    }
    return options;
}

SongData midi_import(const MidiFile& file, const ImportOptions& options, const std::string& name, Warnings& warnings)
{
    const ImportContext context{name, warnings};
    if (file.format == 2)
        throw AuthorError(at_byte(name, 8),
                          "format 2 (a set of independent sequences) cannot be played as one song; "
                          "save the file as format 0 or 1");
    SongData song;
    if (midi_division_is_smpte(file.division)) {
        const int frames = -static_cast<int8_t>(file.division >> 8);
        if (frames != 24 && frames != 25 && frames != 29 && frames != 30)
            throw AuthorError(at_byte(name, 12), "unknown SMPTE frame rate " + std::to_string(frames));
        const uint32_t per_frame = file.division & 0xFF;
        // One quarter note a second (1.001 s at 29.97 frames a second): Q is the
        // ticks in that time, so every tick keeps its exact length.
        song.ticks_per_quarter = static_cast<uint32_t>(frames == 29 ? 30 : frames) * per_frame;
        warnings.add(at_byte(name, 12),
                     "SMPTE timing (" + std::to_string(frames) + " frames a second, " + count_of(per_frame, "tick") +
                         " a frame) becomes " + std::to_string(song.ticks_per_quarter) +
                         " ticks per quarter at tempo " +
                         std::to_string(frames == 29 ? kDropFrameQuarterMicroseconds : kSmpteQuarterMicroseconds));
    } else {
        song.ticks_per_quarter = file.division;
    }
    if (options.ticks_per_quarter != 0) song.ticks_per_quarter = options.ticks_per_quarter;
    if (song.ticks_per_quarter > kMaxTicksPerQuarter)
        throw AuthorError(name, std::to_string(song.ticks_per_quarter) + " ticks per quarter note; the song format " +
                                    "allows at most " + std::to_string(kMaxTicksPerQuarter));

    const std::vector<Merged> merged = merge_tracks(file);
    const uint64_t end_of_file = file_end_tick(file);
    song.globals = import_globals(file, merged, options.as_written, context);

    std::array<size_t, 16> midi_notes{};
    std::array<bool, 16> midi_routed{};
    for (const Merged& m : merged)
        if (m.event->kind() == kMidiNoteOn && m.event->status < 0xF0 && m.event->data[1] > 0)
            ++midi_notes[m.event->channel()];

    for (int c = 0; c < kSongChannels; ++c) {
        const ChannelRoute& route = options.channels[c];
        ChannelEvents& channel = song.channels[c];
        if (route.midi_channel < 0) continue;
        if (route.program >= 0) channel.programs.push_back({0, static_cast<uint8_t>(route.program), {}});
        midi_routed[route.midi_channel] = true;
        NotePairing pairing{context, c, route.sustain, end_of_file};
        for (size_t sequence = 0; sequence < merged.size(); ++sequence) {
            const Merged& m = merged[sequence];
            const MidiEvent& event = *m.event;
            if (event.status >= 0xF0 || event.channel() != route.midi_channel) continue;
            const EventOrigin origin = origin_of(m);
            if (event.tick > kLastSongTick)
                context.fail(origin, event.tick, "the event lies past the last usable tick");
            const auto tick = static_cast<uint32_t>(event.tick);
            const uint8_t kind = event.kind();
            if (kind == kMidiNoteOn || kind == kMidiNoteOff) {
                const int key = event.data[0] + route.transpose;
                if (key < 0 || key > 127)
                    context.fail(origin, event.tick,
                                 "key " + std::to_string(event.data[0]) + " transposed by " +
                                     std::to_string(route.transpose) + " for song channel " + std::to_string(c) +
                                     " becomes " + std::to_string(key) + ", outside 0..127");
                const bool on = kind == kMidiNoteOn && event.data[1] > 0;
                if (options.as_written)
                    channel.notes.push_back({tick, static_cast<uint8_t>(key), on ? event.data[1] : uint8_t{0}, origin});
                else if (on)
                    note_pairing_on(pairing, event.tick, origin, sequence, key, event.data[1]);
                else
                    note_pairing_off(pairing, event.tick, origin, sequence, key);
            } else if (kind == kMidiProgram) {
                channel.programs.push_back({tick, event.data[0], origin});
            } else if (kind == kMidiPitchBend) {
                channel.bends.push_back({tick, event.data[0], event.data[1], origin});
            } else if (kind == kMidiController) {
                for (int k = 0; k < kSongControllers; ++k)
                    if (route.controller_source[k] == event.data[0])
                        channel.controllers[k].push_back({tick, event.data[1], origin});
                if (!options.as_written)
                    note_pairing_controller(pairing, event.tick, origin, sequence, event.data[0], event.data[1]);
            }
        }
        if (!options.as_written) channel.notes = note_pairing_finish(pairing);
        if (channel.notes.empty()) {
            const bool others = !channel.programs.empty() || !channel.bends.empty() ||
                                std::any_of(channel.controllers.begin(), channel.controllers.end(),
                                            [](const auto& track) { return !track.empty(); });
            if (others)
                warnings.add(name, "song channel " + std::to_string(c) + " (MIDI channel " +
                                       std::to_string(route.midi_channel + 1) +
                                       ") has program, controller or pitch-bend events but no notes; a channel "
                                       "without notes is left out of the song");
            channel = ChannelEvents{};
        }
    }
    for (int m = 0; m < 16; ++m)
        if (midi_notes[m] > 0 && !midi_routed[m])
            warnings.add(name, "MIDI channel " + std::to_string(m + 1) + " holds " + count_of(midi_notes[m], "note") +
                                   " but feeds no song channel; " + (midi_notes[m] == 1 ? "it is" : "they are") +
                                   " left out");

    GapLimit limit{static_cast<uint64_t>(kDefaultTempoWord) * kTempoScale,
                   static_cast<uint64_t>(song.ticks_per_quarter) * kTickDivisorScale};
    for (const GlobalEvent& event : song.globals)
        limit.slowest_tempo = std::max<uint64_t>(limit.slowest_tempo, static_cast<uint64_t>(event.tempo) * kTempoScale);
    check_track(song.globals, "the tempo map", limit, context);
    for (int c = 0; c < kSongChannels; ++c) {
        const ChannelEvents& channel = song.channels[c];
        const std::string label = "song channel " + std::to_string(c) + "'s ";
        check_track(channel.notes, label + "notes", limit, context);
        check_track(channel.programs, label + "program changes", limit, context);
        check_track(channel.bends, label + "pitch bends", limit, context);
        for (int k = 0; k < kSongControllers; ++k)
            check_track(channel.controllers[k], label + "controller " + std::to_string(k + 1) + " events", limit,
                        context);
    }
    song.end_tick = song_last_event_tick(song);
    return song;
}
