#include "tests/tools/authoring_test_support.h"

#include <stdexcept>

#include "tests/sequencer/sequencer_test_support.h"

namespace authoring_test {

namespace {

std::vector<uint8_t> vlq(uint32_t value)
{
    std::vector<uint8_t> out{static_cast<uint8_t>(value & 0x7F)};
    for (value >>= 7; value != 0; value >>= 7) out.insert(out.begin(), static_cast<uint8_t>((value & 0x7F) | 0x80));
    return out;
}

void put_be(std::vector<uint8_t>& out, uint32_t value, int bytes)
{
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

std::vector<uint8_t> track_chunk_raw(const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> out{'M', 'T', 'r', 'k'};
    put_be(out, static_cast<uint32_t>(body.size()), 4);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<uint8_t> track_chunk(const std::vector<TimedBytes>& events, bool end_of_track)
{
    std::vector<uint8_t> body;
    uint64_t tick = 0;
    for (const TimedBytes& event : events) {
        if (event.tick < tick) throw std::invalid_argument("events out of order");
        const std::vector<uint8_t> delta = vlq(static_cast<uint32_t>(event.tick - tick));
        body.insert(body.end(), delta.begin(), delta.end());
        body.insert(body.end(), event.bytes.begin(), event.bytes.end());
        tick = event.tick;
    }
    if (end_of_track) body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
    return track_chunk_raw(body);
}

std::vector<uint8_t> midi_bytes(uint16_t format, uint16_t division, const std::vector<std::vector<uint8_t>>& tracks)
{
    std::vector<uint8_t> out{'M', 'T', 'h', 'd', 0, 0, 0, 6};
    for (uint32_t word :
         {static_cast<uint32_t>(format), static_cast<uint32_t>(tracks.size()), static_cast<uint32_t>(division)})
        put_be(out, word, 2);
    for (const auto& track : tracks) out.insert(out.end(), track.begin(), track.end());
    return out;
}

std::vector<uint8_t> meta_text_bytes(uint8_t type, const std::string& text)
{
    std::vector<uint8_t> bytes{0xFF, type, static_cast<uint8_t>(text.size())};
    for (char c : text) bytes.push_back(static_cast<uint8_t>(c));
    return bytes;
}

std::vector<uint8_t> tempo_bytes(uint32_t us)
{
    return {0xFF, 0x51, 0x03, static_cast<uint8_t>(us >> 16), static_cast<uint8_t>(us >> 8), static_cast<uint8_t>(us)};
}

std::vector<uint8_t> time_signature_bytes(uint8_t numerator, uint8_t log2_denominator)
{
    return {0xFF, 0x58, 0x04, numerator, log2_denominator, 24, 8};
}

FileReader MemoryFiles::reader() const
{
    return [this](const std::string& path) {
        auto it = files.find(path);
        if (it == files.end()) throw AuthorError(path, "No such file or directory");
        return it->second;
    };
}

std::string joined(const Warnings& warnings)
{
    std::string out;
    for (const auto& line : warnings.lines) out += line + "\n";
    return out;
}

std::vector<PlayedMessage> play_dry(const std::vector<uint8_t>& image)
{
    std::vector<PlayedMessage> messages;
    for (const RecordedStream& stream : dry_streams(image)) {
        uint8_t status = 0;
        for (size_t i = 0; stream.bytes[i] != kStreamEnd;) {
            if (stream.bytes[i] & 0x80) status = stream.bytes[i++];
            const bool two = (status & 0xF0) != 0xC0 && (status & 0xF0) != 0xD0;
            messages.push_back(
                {stream.tick, stream.frame, status, stream.bytes[i], two ? stream.bytes[i + 1] : uint8_t{0}});
            i += two ? 2 : 1;
        }
    }
    return messages;
}

std::string simple_patch_yaml()
{
    return "osc1: {mode: ramp, color: 10, gain: 90}\n"
           "filter1: {response: lowpass, cutoff: 90, resonance: 20}\n"
           "envelope1: {attack: 4, decay: 60, sustain: 90, release: 40}\n"
           "channel: {volume: 110, reverb_send: 20}\n"
           "modulation:\n"
           "  - {source: velocity, amount: 100, destination: envelope1.gain}\n";
}

}  // namespace authoring_test
