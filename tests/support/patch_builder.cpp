#include "tests/support/patch_builder.h"

#include <algorithm>
#include <stdexcept>

namespace {

using Bytes = std::vector<uint8_t>;

template <size_t N>
void put(std::array<uint8_t, N>& block, int offset, const Bytes& bytes)
{
    if (offset < 0 || offset + bytes.size() > N) throw std::out_of_range("slice outside the block");
    std::copy(bytes.begin(), bytes.end(), block.begin() + offset);
}

// The offset of unit `which` of `count` units of `stride` bytes from `first`.
int unit(int which, int count, int first, int stride)
{
    if (which < 0 || which >= count) throw std::out_of_range("unit index");
    return first + stride * which;
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

PatchBuilder& PatchBuilder::set(int offset, const std::vector<uint8_t>& bytes)
{
    put(fixed_, offset, bytes);
    return *this;
}

PatchBuilder& PatchBuilder::oscillator(int which, const OscillatorSlice& s)
{
    return set(unit(which, 3, kPatchVoiceOffset + kVoiceOscillator1, OscillatorParam::kCount), values(s));
}

PatchBuilder& PatchBuilder::filter(int which, const FilterSlice& s)
{
    return set(unit(which, 2, kPatchVoiceOffset + kVoiceFilter1, FilterParam::kCount), values(s));
}

PatchBuilder& PatchBuilder::envelope(int which, const EnvelopeSlice& s)
{
    return set(unit(which, 2, kPatchVoiceOffset + kVoiceEnvelope1, EnvelopeParam::kCount), values(s));
}

PatchBuilder& PatchBuilder::lfo(int which, const LfoSlice& s)
{
    return set(unit(which, 2, kPatchVoiceOffset + kVoiceLfo1, LfoParam::kCount), values(s));
}

PatchBuilder& PatchBuilder::distortion(const DistortionSlice& s)
{
    return set(kPatchVoiceOffset + kVoiceDistortion, values(s));
}

PatchBuilder& PatchBuilder::channel_distortion(const DistortionSlice& s)
{
    return set(kPatchChannelOffset + kChannelDistortion, values(s));
}

PatchBuilder& PatchBuilder::channel_delay(const DelaySlice& s)
{
    return set(kPatchChannelOffset + kChannelDelay, values(s));
}

PatchBuilder& PatchBuilder::channel_dynamics(const DynamicsSlice& s)
{
    return set(kPatchChannelOffset + kChannelDynamics, values(s));
}

PatchBuilder& PatchBuilder::modulate(uint8_t source, uint8_t amount, uint8_t destination)
{
    if (modulation_.size() >= kModEntryBytes * 255) throw std::length_error("at most 255 modulation entries");
    modulation_.insert(modulation_.end(), {source, amount, destination});
    return *this;
}

std::vector<uint8_t> PatchBuilder::bytes() const
{
    std::vector<uint8_t> out(fixed_.begin(), fixed_.end());
    out.push_back(static_cast<uint8_t>(modulation_.size() / kModEntryBytes));
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

GlobalsBuilder::GlobalsBuilder()
{
    reverb({}).delay({}).low_cut(0).high_cut(127).dynamics({});
}

GlobalsBuilder& GlobalsBuilder::set(int index, const std::vector<uint8_t>& bytes)
{
    put(bytes_, index, bytes);
    return *this;
}

GlobalsBuilder& GlobalsBuilder::reverb(const ReverbSlice& s)
{
    return set(kGlobalReverb, values(s));
}

GlobalsBuilder& GlobalsBuilder::delay(const DelaySlice& s)
{
    return set(kGlobalDelay, values(s));
}

GlobalsBuilder& GlobalsBuilder::dynamics(const DynamicsSlice& s)
{
    return set(kGlobalDynamics, values(s));
}

std::vector<uint8_t> StreamBuilder::bytes() const
{
    std::vector<uint8_t> out = bytes_;
    out.push_back(kStreamEnd);
    return out;
}
