#include "tests/support/patch_builder.h"

#include <algorithm>
#include <stdexcept>

namespace {

using Bytes = std::vector<uint8_t>;

template <size_t N>
void put(std::array<uint8_t, N>& block, int offset, const Bytes& values)
{
    if (offset < 0 || offset + values.size() > N) throw std::out_of_range("slice outside the block");
    std::copy(values.begin(), values.end(), block.begin() + offset);
}

// The offset of unit `which` of `count` units of `stride` bytes from `first`.
int unit(int which, int count, int first, int stride)
{
    if (which < 0 || which >= count) throw std::out_of_range("unit index");
    return first + stride * which;
}

Bytes bytes_of(const DistortionSlice& s) { return {s.mode, s.drive, s.a, s.b}; }
Bytes bytes_of(const DelaySlice& s) { return {s.dry_wet, s.feedback, s.left, s.right, s.rate, s.depth, s.stereo_phase}; }
Bytes bytes_of(const DynamicsSlice& s)
{
    return {s.detector, s.stereo, s.compensation_off, s.look_ahead, s.threshold, s.ratio, s.attack, s.release, s.output};
}

}  // namespace

PatchBuilder::PatchBuilder()
{
    pan(64).transpose(64);
    for (int i = 0; i < 3; ++i) oscillator(i, {});
    for (int i = 0; i < 2; ++i) filter(i, {}).envelope(i, {}).lfo(i, {});
    routing(0).balance(64).distortion({}).phase_reset(0);
    volume(128).reverb_send(0).delay_send(0).effect_order(0).shelf(0);
    channel_distortion({}).channel_delay({}).channel_dynamics({});
    polyphony(16);
}

PatchBuilder& PatchBuilder::set(int offset, const std::vector<uint8_t>& values)
{
    put(fixed_, offset, values);
    return *this;
}

PatchBuilder& PatchBuilder::oscillator(int which, const OscillatorSlice& s)
{
    return set(unit(which, 3, kVoiceOscillator1, 6), {s.mode, s.ring, s.transpose, s.detune, s.color, s.gain});
}

PatchBuilder& PatchBuilder::filter(int which, const FilterSlice& s)
{
    return set(unit(which, 2, kVoiceFilter1, 3), {s.mode, s.cutoff, s.resonance});
}

PatchBuilder& PatchBuilder::envelope(int which, const EnvelopeSlice& s)
{
    return set(unit(which, 2, kVoiceEnvelope1, 6), {s.attack, s.decay, s.sustain, s.slope, s.release, s.gain});
}

PatchBuilder& PatchBuilder::lfo(int which, const LfoSlice& s)
{
    return set(unit(which, 2, kVoiceLfo1, 7),
               {s.waveform, s.key_sync, s.one_shot, s.rate, s.start_phase, s.polarity, s.amount});
}

PatchBuilder& PatchBuilder::distortion(const DistortionSlice& s) { return set(kVoiceDistortion, bytes_of(s)); }

PatchBuilder& PatchBuilder::channel_distortion(const DistortionSlice& s)
{
    return set(kPatchChannelOffset + kChannelDistortion, bytes_of(s));
}

PatchBuilder& PatchBuilder::channel_delay(const DelaySlice& s) { return set(kPatchChannelOffset + kChannelDelay, bytes_of(s)); }

PatchBuilder& PatchBuilder::channel_dynamics(const DynamicsSlice& s)
{
    return set(kPatchChannelOffset + kChannelDynamics, bytes_of(s));
}

PatchBuilder& PatchBuilder::modulate(uint8_t source, uint8_t amount, uint8_t destination)
{
    if (modulation_.size() >= 3 * 255) throw std::length_error("at most 255 modulation entries");
    modulation_.insert(modulation_.end(), {source, amount, destination});
    return *this;
}

std::vector<uint8_t> PatchBuilder::bytes() const
{
    std::vector<uint8_t> out(fixed_.begin(), fixed_.end());
    out.push_back(static_cast<uint8_t>(modulation_.size() / 3));
    out.insert(out.end(), modulation_.begin(), modulation_.end());
    return out;
}

std::vector<uint8_t> BankBuilder::bytes() const
{
    if (patches_.empty()) throw std::logic_error("a bank needs at least one patch");
    std::vector<uint8_t> out(4 * patches_.size());
    for (size_t program = 0; program < patches_.size(); ++program) {
        const auto offset = static_cast<uint32_t>(out.size());
        for (int i = 0; i < 4; ++i) out[4 * program + i] = static_cast<uint8_t>(offset >> (8 * i));
        out.insert(out.end(), patches_[program].begin(), patches_[program].end());
    }
    return out;
}

GlobalsBuilder::GlobalsBuilder() { reverb({}).delay({}).low_cut(0).high_cut(127).dynamics({}); }

GlobalsBuilder& GlobalsBuilder::set(int index, const std::vector<uint8_t>& values)
{
    put(bytes_, index, values);
    return *this;
}

GlobalsBuilder& GlobalsBuilder::reverb(const ReverbSlice& s) { return set(0, {s.decay, s.damping, s.low_cut, s.input}); }
GlobalsBuilder& GlobalsBuilder::delay(const DelaySlice& s) { return set(4, bytes_of(s)); }
GlobalsBuilder& GlobalsBuilder::dynamics(const DynamicsSlice& s) { return set(13, bytes_of(s)); }

std::vector<uint8_t> StreamBuilder::bytes() const
{
    std::vector<uint8_t> out = bytes_;
    out.push_back(0xFD);
    return out;
}
