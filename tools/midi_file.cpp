#include "tools/midi_file.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace {

constexpr size_t kChunkHeaderBytes = 8;
constexpr uint32_t kHeaderDataBytes = 6;
constexpr int kMaxVlqBytes = 4;
constexpr uint8_t kClocksPerClick = 24;  // one click a quarter note, the usual value

uint32_t read_be32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

uint16_t read_be16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

std::string hex_byte(uint8_t b)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

bool printable_id(const uint8_t* p)
{
    for (int i = 0; i < 4; ++i)
        if (p[i] < 0x20 || p[i] > 0x7E) return false;
    return true;
}

const char* message_name(uint8_t kind)
{
    switch (kind) {
    case kMidiNoteOff:
        return "note-off";
    case kMidiNoteOn:
        return "note-on";
    case kMidiKeyPressure:
        return "key pressure";
    case kMidiController:
        return "controller";
    case kMidiProgram:
        return "program change";
    case kMidiChannelPressure:
        return "channel pressure";
    default:
        return "pitch bend";
    }
}

struct TrackReader {
    const uint8_t* bytes;
    const std::string& name;
    Warnings& warnings;
    int track_number;
    size_t end;  // one past the chunk's last byte

    std::string where(size_t at) const { return at_byte(name, at); }

    [[noreturn]] void fail(size_t at, const std::string& what) const
    {
        throw AuthorError(where(at), "track " + std::to_string(track_number) + ": " + what);
    }

    uint32_t read_vlq(size_t& p, const char* what) const
    {
        const size_t start = p;
        uint32_t value = 0;
        for (int i = 0; i < kMaxVlqBytes; ++i) {
            if (p >= end) fail(start, std::string("the track ends inside a ") + what);
            const uint8_t b = bytes[p++];
            value = (value << 7) | (b & 0x7Fu);
            if (!(b & 0x80)) return value;
        }
        fail(start, std::string("a ") + what + " longer than four bytes");
    }

    void read(MidiTrack& track, size_t start)
    {
        size_t p = start;
        uint8_t running = 0;
        uint64_t tick = 0;
        while (p < end) {
            const uint32_t delta = read_vlq(p, "delta time");
            tick += delta;
            if (p >= end) {
                warnings.add(where(p), "track " + std::to_string(track_number) +
                                           " ends after a delta time without an event; the delta is ignored");
                tick -= delta;
                break;
            }
            MidiEvent event{};
            event.tick = tick;
            event.offset = p;
            uint8_t status = bytes[p];
            if (status >= 0x80) {
                ++p;
            } else {
                if (running == 0)
                    fail(p, "data byte " + hex_byte(status) + " where a status byte is needed (no running status)");
                status = running;
            }
            event.status = status;
            if (status < 0xF0) {
                running = status;
                const uint8_t kind = status & 0xF0;
                const int count = (kind == kMidiProgram || kind == kMidiChannelPressure) ? 1 : 2;
                for (int i = 0; i < count; ++i) {
                    if (p >= end) fail(event.offset, std::string("the track ends inside a ") + message_name(kind));
                    if (bytes[p] >= 0x80)
                        fail(p, "status byte " + hex_byte(bytes[p]) + " where a data byte of a " + message_name(kind) +
                                    " is expected");
                    event.data[i] = bytes[p++];
                }
                track.events.push_back(std::move(event));
            } else if (status == kMidiMeta) {
                if (p >= end) fail(event.offset, "the track ends inside a meta event");
                event.meta_type = bytes[p++];
                const uint32_t length = read_vlq(p, "meta event length");
                if (length > end - p)
                    fail(event.offset, "a meta event of " + count_of(length, "byte") + " runs past the track's end");
                if (event.meta_type == kMetaEndOfTrack) {
                    p += length;
                    track.has_end = true;
                    if (p < end)
                        warnings.add(where(p), count_of(end - p, "byte") + " after the end-of-track event of track " +
                                                   std::to_string(track_number) + (end - p == 1 ? " is" : " are") +
                                                   " ignored");
                    p = end;
                    break;
                }
                event.payload.assign(bytes + p, bytes + p + length);
                p += length;
                track.events.push_back(std::move(event));
            } else if (status == kMidiSysex || status == kMidiSysexEscape) {
                const uint32_t length = read_vlq(p, "sysex length");
                if (length > end - p)
                    fail(event.offset, "a sysex event of " + count_of(length, "byte") + " runs past the track's end");
                event.payload.assign(bytes + p, bytes + p + length);
                p += length;
                track.events.push_back(std::move(event));
            } else {
                // System common and real-time bytes have no place in a file; step over
                // the byte and the data bytes its message would carry.
                const int count = status == 0xF2 ? 2 : (status == 0xF1 || status == 0xF3) ? 1 : 0;
                int skipped = 0;
                while (skipped < count && p < end && bytes[p] < 0x80) {
                    ++p;
                    ++skipped;
                }
                warnings.add(where(event.offset), "track " + std::to_string(track_number) + ": system message byte " +
                                                      hex_byte(status) + " (not allowed in a file) skipped");
            }
        }
        track.end_tick = tick;
        if (!track.has_end)
            warnings.add(where(end), "track " + std::to_string(track_number) +
                                         " has no end-of-track event; it ends with its last event at tick " +
                                         std::to_string(tick));
    }
};

void put_vlq(std::vector<uint8_t>& out, uint32_t value)
{
    uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (n > 1) out.push_back(static_cast<uint8_t>(groups[--n] | 0x80));
    out.push_back(groups[0]);
}

void put_be32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void put_be16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

// Writes the time from previous to tick. One delta holds at most 2^28 - 1
// ticks; a longer gap is bridged with empty text events, which cancel running
// status (returns true when it wrote any).
bool put_delta(std::vector<uint8_t>& out, uint64_t previous, uint64_t tick)
{
    if (tick < previous) throw std::invalid_argument("MIDI events out of tick order");
    bool bridged = false;
    while (tick - previous > kMidiMaxDelta) {
        put_vlq(out, kMidiMaxDelta);
        out.insert(out.end(), {kMidiMeta, kMetaText, 0});
        previous += kMidiMaxDelta;
        bridged = true;
    }
    put_vlq(out, static_cast<uint32_t>(tick - previous));
    return bridged;
}

}  // namespace

bool midi_division_is_smpte(uint16_t division)
{
    return (division & 0x8000) != 0;
}

MidiFile midi_read(const uint8_t* bytes, size_t size, const std::string& name, Warnings& warnings)
{
    MidiFile file;
    size_t base = 0;
    size_t limit = size;
    // A RIFF "RMID" file wraps a standard MIDI file in its "data" chunk.
    if (size >= 12 && std::string(reinterpret_cast<const char*>(bytes), 4) == "RIFF" &&
        std::string(reinterpret_cast<const char*>(bytes + 8), 4) == "RMID") {
        size_t p = 12;
        bool found = false;
        while (p + 8 <= size) {
            const uint32_t length = static_cast<uint32_t>(bytes[p + 4]) | (static_cast<uint32_t>(bytes[p + 5]) << 8) |
                                    (static_cast<uint32_t>(bytes[p + 6]) << 16) |
                                    (static_cast<uint32_t>(bytes[p + 7]) << 24);
            if (std::string(reinterpret_cast<const char*>(bytes + p), 4) == "data") {
                base = p + 8;
                limit = length <= size - base ? base + length : size;
                found = true;
                break;
            }
            p += 8 + static_cast<size_t>(length) + (length & 1);
        }
        if (!found) throw AuthorError(at_byte(name, 12), "a RIFF MIDI file without a \"data\" chunk");
    }
    if (limit - base < kChunkHeaderBytes + kHeaderDataBytes ||
        std::string(reinterpret_cast<const char*>(bytes + base), 4) != "MThd")
        throw AuthorError(at_byte(name, base), "not a standard MIDI file (no \"MThd\" header chunk)");
    const uint32_t header_length = read_be32(bytes + base + 4);
    if (header_length < kHeaderDataBytes)
        throw AuthorError(at_byte(name, base + 4),
                          "the header chunk is " + count_of(header_length, "byte") + ", fewer than the 6 it needs");
    if (header_length > limit - base - kChunkHeaderBytes)
        throw AuthorError(at_byte(name, base + 4), "the header chunk of " + std::to_string(header_length) +
                                                       " bytes runs past the end of the file");
    const uint8_t* header = bytes + base + kChunkHeaderBytes;
    file.format = read_be16(header);
    const uint16_t declared_tracks = read_be16(header + 2);
    file.division = read_be16(header + 4);
    if (file.format > 2)
        throw AuthorError(at_byte(name, base + 8), "unknown MIDI file format " + std::to_string(file.format));
    if (file.division == 0)
        throw AuthorError(at_byte(name, base + 12), "the time division is 0 ticks per quarter note");
    if (midi_division_is_smpte(file.division) && (file.division & 0xFF) == 0)
        throw AuthorError(at_byte(name, base + 12), "the SMPTE time division has 0 ticks per frame");
    if (header_length > kHeaderDataBytes)
        warnings.add(at_byte(name, base + kChunkHeaderBytes + kHeaderDataBytes),
                     count_of(header_length - kHeaderDataBytes, "extra byte") + " in the header chunk " +
                         (header_length - kHeaderDataBytes == 1 ? "is" : "are") + " ignored");

    size_t p = base + kChunkHeaderBytes + header_length;
    int read_tracks = 0;
    while (read_tracks < declared_tracks) {
        if (p >= limit) {
            warnings.add(at_byte(name, p), "the header declares " + std::to_string(declared_tracks) +
                                               " tracks but the file holds " + std::to_string(read_tracks));
            break;
        }
        if (limit - p < kChunkHeaderBytes) {
            warnings.add(at_byte(name, p), count_of(limit - p, "byte") + " at the end of the file " +
                                               (limit - p == 1 ? "is" : "are") + " too few for a chunk (" +
                                               std::to_string(read_tracks) + " of " + std::to_string(declared_tracks) +
                                               " declared tracks read); ignored");
            p = limit;
            break;
        }
        const uint8_t* chunk = bytes + p;
        const uint32_t length = read_be32(chunk + 4);
        const size_t available = limit - p - kChunkHeaderBytes;
        const bool is_track = std::string(reinterpret_cast<const char*>(chunk), 4) == "MTrk";
        if (!is_track) {
            if (!printable_id(chunk))
                throw AuthorError(at_byte(name, p), "expected a track chunk (\"MTrk\") but found bytes " +
                                                        hex_byte(chunk[0]) + " " + hex_byte(chunk[1]) + " " +
                                                        hex_byte(chunk[2]) + " " + hex_byte(chunk[3]));
            const std::string id(reinterpret_cast<const char*>(chunk), 4);
            if (length > available) {
                warnings.add(at_byte(name, p),
                             "unknown chunk \"" + id +
                                 "\" runs past the end of the file; it and the rest of the file are ignored");
                p = limit;
                break;
            }
            warnings.add(at_byte(name, p), "unknown chunk \"" + id + "\" of " + count_of(length, "byte") + " skipped");
            p += kChunkHeaderBytes + length;
            continue;
        }
        size_t end = p + kChunkHeaderBytes + length;
        if (length > available) {
            warnings.add(at_byte(name, p + 4), "track " + std::to_string(read_tracks) + " declares " +
                                                   count_of(length, "byte") + " but only " + std::to_string(available) +
                                                   (available == 1 ? " remains" : " remain") +
                                                   " in the file; reading what is there");
            end = limit;
        }
        MidiTrack track;
        track.offset = p;
        TrackReader reader{bytes, name, warnings, read_tracks, end};
        reader.read(track, p + kChunkHeaderBytes);
        file.tracks.push_back(std::move(track));
        ++read_tracks;
        p = end;
    }
    if (p < limit) {
        const bool extra_track = limit - p >= 4 && std::string(reinterpret_cast<const char*>(bytes + p), 4) == "MTrk";
        if (extra_track)
            warnings.add(at_byte(name, p), "a track chunk beyond the " + std::to_string(declared_tracks) +
                                               " tracks the header declares is ignored (" +
                                               count_of(limit - p, "byte") + ")");
        else
            warnings.add(at_byte(name, p), count_of(limit - p, "byte") + " after the last track " +
                                               (limit - p == 1 ? "is" : "are") + " ignored");
    }
    return file;
}

std::vector<uint8_t> midi_write(const MidiFile& file)
{
    std::vector<uint8_t> out{'M', 'T', 'h', 'd'};
    put_be32(out, kHeaderDataBytes);
    put_be16(out, file.format);
    put_be16(out, static_cast<uint16_t>(file.tracks.size()));
    put_be16(out, file.division);
    for (const MidiTrack& track : file.tracks) {
        std::vector<uint8_t> body;
        uint64_t tick = 0;
        uint8_t running = 0;
        for (const MidiEvent& event : track.events) {
            if (put_delta(body, tick, event.tick)) running = 0;
            tick = event.tick;
            if (event.status < 0xF0) {
                if (event.status != running) body.push_back(event.status);
                running = event.status;
                body.push_back(event.data[0] & 0x7F);
                if (event.kind() != kMidiProgram && event.kind() != kMidiChannelPressure)
                    body.push_back(event.data[1] & 0x7F);
            } else {
                running = 0;
                body.push_back(event.status);
                if (event.status == kMidiMeta) body.push_back(event.meta_type);
                put_vlq(body, static_cast<uint32_t>(event.payload.size()));
                body.insert(body.end(), event.payload.begin(), event.payload.end());
            }
        }
        put_delta(body, tick, std::max(tick, track.end_tick));
        body.insert(body.end(), {kMidiMeta, kMetaEndOfTrack, 0});
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        put_be32(out, static_cast<uint32_t>(body.size()));
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}

MidiEvent midi_channel_event(uint64_t tick, uint8_t status, uint8_t data1, uint8_t data2)
{
    MidiEvent event{};
    event.tick = tick;
    event.status = status;
    event.data[0] = data1;
    event.data[1] = data2;
    return event;
}

MidiEvent midi_meta_event(uint64_t tick, uint8_t type, std::vector<uint8_t> payload)
{
    MidiEvent event{};
    event.tick = tick;
    event.status = kMidiMeta;
    event.meta_type = type;
    event.payload = std::move(payload);
    return event;
}

MidiEvent midi_tempo_event(uint64_t tick, uint32_t us_per_quarter)
{
    return midi_meta_event(tick, kMetaTempo,
                           {static_cast<uint8_t>(us_per_quarter >> 16), static_cast<uint8_t>(us_per_quarter >> 8),
                            static_cast<uint8_t>(us_per_quarter)});
}

MidiEvent midi_time_signature_event(uint64_t tick, uint8_t numerator, uint8_t denominator_log2, uint8_t subdivision)
{
    return midi_meta_event(tick, kMetaTimeSignature, {numerator, denominator_log2, kClocksPerClick, subdivision});
}
