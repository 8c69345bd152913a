#include "tests/tools/authoring_test_support.h"

#include <memory>
#include <stdexcept>

#include "sequencer/player.h"

namespace authoring_test {

std::vector<uint8_t> vlq(uint32_t value)
{
    std::vector<uint8_t> out{static_cast<uint8_t>(value & 0x7F)};
    value >>= 7;
    while (value != 0) {
        out.insert(out.begin(), static_cast<uint8_t>((value & 0x7F) | 0x80));
        value >>= 7;
    }
    return out;
}

static void put_be32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

std::vector<uint8_t> track_chunk_raw(const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> out{'M', 'T', 'r', 'k'};
    put_be32(out, static_cast<uint32_t>(body.size()));
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

std::vector<uint8_t> header_chunk(uint16_t format, uint16_t tracks, uint16_t division)
{
    std::vector<uint8_t> out{'M', 'T', 'h', 'd', 0, 0, 0, 6};
    for (uint16_t word : {format, tracks, division}) {
        out.push_back(static_cast<uint8_t>(word >> 8));
        out.push_back(static_cast<uint8_t>(word));
    }
    return out;
}

std::vector<uint8_t> midi_bytes(uint16_t format, uint16_t division, const std::vector<std::vector<uint8_t>>& tracks)
{
    std::vector<uint8_t> out = header_chunk(format, static_cast<uint16_t>(tracks.size()), division);
    for (const auto& track : tracks) out.insert(out.end(), track.begin(), track.end());
    return out;
}

std::vector<uint8_t> tempo_bytes(uint32_t us)
{
    return {0xFF, 0x51, 0x03, static_cast<uint8_t>(us >> 16), static_cast<uint8_t>(us >> 8), static_cast<uint8_t>(us)};
}

std::vector<uint8_t> time_signature_bytes(uint8_t numerator, uint8_t log2_denominator)
{
    return {0xFF, 0x58, 0x04, numerator, log2_denominator, 24, 8};
}

void MemoryFiles::add(const std::string& name, const std::string& text)
{
    files[name] = std::vector<uint8_t>(text.begin(), text.end());
}

void MemoryFiles::add(const std::string& name, const std::vector<uint8_t>& bytes)
{
    files[name] = bytes;
}

FileReader MemoryFiles::reader() const
{
    return [this](const std::string& path) {
        auto it = files.find(path);
        if (it == files.end()) throw AuthorError(path, "No such file or directory");
        return it->second;
    };
}

namespace {

struct Recorder {
    const SequencerState* seq = nullptr;
    uint32_t calls = 0;
    std::vector<PlayedMessage> messages;

    static void observe(void* context, uint32_t tick, const uint8_t* stream, size_t length)
    {
        auto& self = *static_cast<Recorder*>(context);
        uint8_t status = 0;
        size_t i = 0;
        while (i < length && stream[i] != 0xFD) {
            if (stream[i] & 0x80) status = stream[i++];
            const uint8_t kind = status & 0xF0;
            const int count = kind == 0xC0 || kind == 0xD0 ? 1 : 2;
            PlayedMessage message{tick, self.seq->sample_counter, self.calls, status, stream[i], 0};
            if (count == 2) message.data2 = stream[i + 1];
            i += static_cast<size_t>(count);
            self.messages.push_back(message);
        }
        ++self.calls;
    }
};

}  // namespace

std::vector<PlayedMessage> play_dry(const std::vector<uint8_t>& image)
{
    auto player = std::make_unique<Player>();
    if (!player_init_dry(*player, image.data())) throw std::runtime_error("the image does not load");
    Recorder recorder;
    recorder.seq = &player->seq;
    player->seq.observer = Recorder::observe;
    player->seq.observer_context = &recorder;
    player_start(*player);
    while (player->seq.running) player_render(player.get(), nullptr, 1u << 20);
    return recorder.messages;
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
