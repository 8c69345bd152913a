#include "tests/support/patch_builder.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>

#include "synth/channel.h"
#include "synth/patch.h"
#include "synth/voice.h"

namespace {

template <size_t N>
void put(std::array<uint8_t, N>& bytes, int offset, std::initializer_list<uint8_t> values)
{
    if (offset < 0 || offset + static_cast<int>(values.size()) > static_cast<int>(N)) {
        throw std::out_of_range("slice outside the block");
    }
    std::copy(values.begin(), values.end(), bytes.begin() + offset);
}

void check_index(int which, int count)
{
    if (which < 0 || which >= count) throw std::out_of_range("unit index");
}

}  // namespace

PatchBuilder::PatchBuilder()
{
    pan(64).transpose(64);
    for (int i = 0; i < 3; ++i) oscillator(i, {});
    for (int i = 0; i < 2; ++i) filter(i, {});
    routing(0).balance(64).distortion({});
    for (int i = 0; i < 2; ++i) envelope(i, {}).lfo(i, {});
    phase_reset(0);
    volume(128).reverb_send(0).delay_send(0).effect_order(0).shelf(0);
    channel_distortion({}).channel_delay({}).channel_dynamics({});
    polyphony(16);
}

PatchBuilder& PatchBuilder::byte(int offset, uint8_t value)
{
    put(fixed_, offset, {value});
    return *this;
}

PatchBuilder& PatchBuilder::pan(uint8_t value) { return byte(kVoicePan, value); }
PatchBuilder& PatchBuilder::transpose(uint8_t value) { return byte(kVoiceTranspose, value); }

PatchBuilder& PatchBuilder::oscillator(int which, const OscillatorSlice& s)
{
    check_index(which, 3);
    put(fixed_, kVoiceOscillator1 + 6 * which, {s.mode, s.ring, s.transpose, s.detune, s.color, s.gain});
    return *this;
}

PatchBuilder& PatchBuilder::filter(int which, const FilterSlice& s)
{
    check_index(which, 2);
    put(fixed_, kVoiceFilter1 + 3 * which, {s.mode, s.cutoff, s.resonance});
    return *this;
}

PatchBuilder& PatchBuilder::routing(uint8_t value) { return byte(kVoiceRouting, value); }
PatchBuilder& PatchBuilder::balance(uint8_t value) { return byte(kVoiceBalance, value); }

PatchBuilder& PatchBuilder::distortion(const DistortionSlice& s)
{
    put(fixed_, kVoiceDistortion, {s.mode, s.drive, s.a, s.b});
    return *this;
}

PatchBuilder& PatchBuilder::envelope(int which, const EnvelopeSlice& s)
{
    check_index(which, 2);
    put(fixed_, kVoiceEnvelope1 + 6 * which, {s.attack, s.decay, s.sustain, s.slope, s.release, s.gain});
    return *this;
}

PatchBuilder& PatchBuilder::lfo(int which, const LfoSlice& s)
{
    check_index(which, 2);
    put(fixed_, kVoiceLfo1 + 7 * which,
        {s.waveform, s.key_sync, s.one_shot, s.rate, s.start_phase, s.polarity, s.amount});
    return *this;
}

PatchBuilder& PatchBuilder::phase_reset(uint8_t value) { return byte(kVoicePhaseReset, value); }

PatchBuilder& PatchBuilder::volume(uint8_t value)
{
    return byte(kPatchChannelOffset + kChannelVolume, value);
}

PatchBuilder& PatchBuilder::reverb_send(uint8_t value)
{
    return byte(kPatchChannelOffset + kChannelReverbSend, value);
}

PatchBuilder& PatchBuilder::delay_send(uint8_t value)
{
    return byte(kPatchChannelOffset + kChannelDelaySend, value);
}

PatchBuilder& PatchBuilder::effect_order(uint8_t value)
{
    return byte(kPatchChannelOffset + kChannelEffectOrder, value);
}

PatchBuilder& PatchBuilder::shelf(uint8_t value)
{
    return byte(kPatchChannelOffset + kChannelShelf, value);
}

PatchBuilder& PatchBuilder::channel_distortion(const DistortionSlice& s)
{
    put(fixed_, kPatchChannelOffset + kChannelDistortion, {s.mode, s.drive, s.a, s.b});
    return *this;
}

PatchBuilder& PatchBuilder::channel_delay(const DelaySlice& s)
{
    put(fixed_, kPatchChannelOffset + kChannelDelay,
        {s.dry_wet, s.feedback, s.left, s.right, s.rate, s.depth, s.stereo_phase});
    return *this;
}

PatchBuilder& PatchBuilder::channel_dynamics(const DynamicsSlice& s)
{
    put(fixed_, kPatchChannelOffset + kChannelDynamics,
        {s.detector, s.stereo, s.compensation_off, s.look_ahead, s.threshold, s.ratio, s.attack, s.release,
         s.output});
    return *this;
}

PatchBuilder& PatchBuilder::polyphony(uint8_t value) { return byte(kPatchPolyphonyOffset, value); }

PatchBuilder& PatchBuilder::modulate(uint8_t source, uint8_t amount, uint8_t destination)
{
    if (modulation_.size() >= 255) throw std::length_error("at most 255 modulation entries");
    modulation_.push_back({source, amount, destination});
    return *this;
}

std::vector<uint8_t> PatchBuilder::bytes() const
{
    std::vector<uint8_t> out(fixed_.begin(), fixed_.end());
    out.push_back(static_cast<uint8_t>(modulation_.size()));
    for (const ModulationEntry& m : modulation_) {
        out.push_back(m.source);
        out.push_back(m.amount);
        out.push_back(m.destination);
    }
    return out;
}

BankBuilder& BankBuilder::add(const PatchBuilder& patch)
{
    patches_.push_back(patch.bytes());
    return *this;
}

BankBuilder& BankBuilder::table_entries(int count)
{
    table_entries_ = count;
    return *this;
}

std::vector<uint8_t> BankBuilder::bytes() const
{
    if (patches_.empty()) throw std::logic_error("a bank needs at least one patch");
    const size_t entries = std::max(patches_.size(), static_cast<size_t>(std::max(table_entries_, 0)));
    std::vector<uint8_t> out(4 * entries);
    std::vector<uint32_t> offsets;
    for (const std::vector<uint8_t>& patch : patches_) {
        offsets.push_back(static_cast<uint32_t>(out.size()));
        out.insert(out.end(), patch.begin(), patch.end());
    }
    for (size_t program = 0; program < entries; ++program) {
        const uint32_t offset = program < offsets.size() ? offsets[program] : offsets[0];
        for (int i = 0; i < 4; ++i) out[4 * program + i] = static_cast<uint8_t>(offset >> (8 * i));
    }
    return out;
}

GlobalsBuilder::GlobalsBuilder()
{
    reverb({}).delay({}).low_cut(0).high_cut(127).dynamics({});
}

GlobalsBuilder& GlobalsBuilder::byte(int index, uint8_t value)
{
    put(bytes_, index, {value});
    return *this;
}

GlobalsBuilder& GlobalsBuilder::reverb(const ReverbSlice& s)
{
    put(bytes_, 0, {s.decay, s.damping, s.low_cut, s.input});
    return *this;
}

GlobalsBuilder& GlobalsBuilder::delay(const DelaySlice& s)
{
    put(bytes_, 4, {s.dry_wet, s.feedback, s.left, s.right, s.rate, s.depth, s.stereo_phase});
    return *this;
}

GlobalsBuilder& GlobalsBuilder::low_cut(uint8_t value) { return byte(11, value); }
GlobalsBuilder& GlobalsBuilder::high_cut(uint8_t value) { return byte(12, value); }

GlobalsBuilder& GlobalsBuilder::dynamics(const DynamicsSlice& s)
{
    put(bytes_, 13,
        {s.detector, s.stereo, s.compensation_off, s.look_ahead, s.threshold, s.ratio, s.attack, s.release,
         s.output});
    return *this;
}

void StreamBuilder::message(uint8_t status, std::initializer_list<uint8_t> data)
{
    if (!running_) bytes_.push_back(status);
    running_ = false;
    bytes_.insert(bytes_.end(), data.begin(), data.end());
}

StreamBuilder& StreamBuilder::note_on(int channel, uint8_t note, uint8_t velocity)
{
    message(static_cast<uint8_t>(0x90 | (channel & 0x0F)), {note, velocity});
    return *this;
}

StreamBuilder& StreamBuilder::note_off(int channel, uint8_t note, uint8_t velocity)
{
    message(static_cast<uint8_t>(0x80 | (channel & 0x0F)), {note, velocity});
    return *this;
}

StreamBuilder& StreamBuilder::controller(int channel, uint8_t number, uint8_t value)
{
    message(static_cast<uint8_t>(0xB0 | (channel & 0x0F)), {number, value});
    return *this;
}

StreamBuilder& StreamBuilder::program(int channel, uint8_t program)
{
    message(static_cast<uint8_t>(0xC0 | (channel & 0x0F)), {program});
    return *this;
}

StreamBuilder& StreamBuilder::reset()
{
    running_ = false;
    bytes_.push_back(0xFF);
    return *this;
}

StreamBuilder& StreamBuilder::running()
{
    running_ = true;
    return *this;
}

StreamBuilder& StreamBuilder::raw(std::initializer_list<uint8_t> bytes)
{
    running_ = false;
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

std::vector<uint8_t> StreamBuilder::bytes() const
{
    std::vector<uint8_t> out = bytes_;
    out.push_back(0xFD);
    return out;
}
