// Builders for the byte forms the synthesizer reads: patches, patch banks, the
// global parameter block and event streams. Each field is set by name; the
// rest keeps a neutral default, so a test states only what it is about.
//
//   PatchBuilder lead;
//   lead.oscillator(0, {.mode = kOscillatorSine}).envelope(0, {.release = 40}).polyphony(1);
//   std::vector<uint8_t> bank = BankBuilder().add(lead).bytes();
//   std::vector<uint8_t> stream = StreamBuilder().note_on(0, 60, 100).bytes();
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "synth/engine.h"
#include "synth/param_layout.h"
#include "tests/support/param_slices.h"

// The byte slices a patch and the global block are built from.
using OscillatorSlice = OscillatorParams<uint8_t>;
using FilterSlice = FilterParams<uint8_t>;
using DistortionSlice = DistortionParams<uint8_t>;
using EnvelopeSlice = EnvelopeParams<uint8_t>;
using LfoSlice = LfoParams<uint8_t>;
using DelaySlice = DelayParams<uint8_t>;
using DynamicsSlice = DynamicsParams<uint8_t>;
using ReverbSlice = ReverbParams<uint8_t>;

// One patch. Defaults: pan 64, no transpose, all oscillators silent, filters
// passing, routing 0, balance 64, distortion off, both envelopes as
// EnvelopeSlice{}, LFOs without output, no phase reset; channel volume 128,
// no sends, effect order 0, no shelf, channel distortion, delay and dynamics
// off; polyphony 16; no modulation entries.
class PatchBuilder {
public:
    PatchBuilder();

    // Any byte of the 85 fixed bytes by its patch offset.
    PatchBuilder& byte(int offset, uint8_t value) { return set(offset, {value}); }

    PatchBuilder& pan(uint8_t value) { return byte(kPatchVoiceOffset + kVoicePan, value); }
    PatchBuilder& transpose(uint8_t value) { return byte(kPatchVoiceOffset + kVoiceTranspose, value); }
    PatchBuilder& oscillator(int which, const OscillatorSlice& slice);  // which 0..2
    PatchBuilder& filter(int which, const FilterSlice& slice);          // which 0..1
    PatchBuilder& routing(uint8_t value) { return byte(kPatchVoiceOffset + kVoiceRouting, value); }
    PatchBuilder& balance(uint8_t value) { return byte(kPatchVoiceOffset + kVoiceBalance, value); }
    PatchBuilder& distortion(const DistortionSlice& slice);
    PatchBuilder& envelope(int which, const EnvelopeSlice& slice);  // which 0..1
    PatchBuilder& lfo(int which, const LfoSlice& slice);            // which 0..1
    PatchBuilder& phase_reset(uint8_t value) { return byte(kPatchVoiceOffset + kVoicePhaseReset, value); }

    PatchBuilder& volume(uint8_t value) { return byte(kPatchChannelOffset + kChannelVolume, value); }
    PatchBuilder& reverb_send(uint8_t value) { return byte(kPatchChannelOffset + kChannelReverbSend, value); }
    PatchBuilder& delay_send(uint8_t value) { return byte(kPatchChannelOffset + kChannelDelaySend, value); }
    PatchBuilder& effect_order(uint8_t value) { return byte(kPatchChannelOffset + kChannelEffectOrder, value); }
    PatchBuilder& shelf(uint8_t value) { return byte(kPatchChannelOffset + kChannelShelf, value); }
    PatchBuilder& channel_distortion(const DistortionSlice& slice);
    PatchBuilder& channel_delay(const DelaySlice& slice);
    PatchBuilder& channel_dynamics(const DynamicsSlice& slice);

    PatchBuilder& polyphony(uint8_t value) { return byte(kPatchPolyphonyOffset, value); }
    PatchBuilder& modulate(uint8_t source, uint8_t amount, uint8_t destination);

    // kPatchHeaderBytes + 3 N bytes.
    std::vector<uint8_t> bytes() const;

private:
    template <size_t N>
    PatchBuilder& set(int offset, const std::array<uint8_t, N>& slice)
    {
        return set(offset, std::vector<uint8_t>(slice.begin(), slice.end()));
    }
    PatchBuilder& set(int offset, const std::vector<uint8_t>& bytes);

    std::array<uint8_t, kPatchParamBytes> fixed_{};
    std::vector<uint8_t> modulation_;  // (source, amount, destination) entries
};

// A patch bank: the offset table, then the patches in the order added.
class BankBuilder {
public:
    // Appends a patch as the next program number.
    BankBuilder& add(const PatchBuilder& patch)
    {
        patches_.push_back(patch.bytes());
        return *this;
    }
    std::vector<uint8_t> bytes() const;

private:
    std::vector<std::vector<uint8_t>> patches_;
};

// The 22-byte global parameter block. Defaults: reverb silent, global delay
// bypassed, low cut 0 (1/16384: removes only DC), high cut 127 (bypassed),
// master dynamics off.
class GlobalsBuilder {
public:
    GlobalsBuilder();
    GlobalsBuilder& byte(int index, uint8_t value) { return set(index, {value}); }
    GlobalsBuilder& reverb(const ReverbSlice& slice);
    GlobalsBuilder& delay(const DelaySlice& slice);
    GlobalsBuilder& low_cut(uint8_t value) { return byte(kGlobalLowCut, value); }
    GlobalsBuilder& high_cut(uint8_t value) { return byte(kGlobalHighCut, value); }
    GlobalsBuilder& dynamics(const DynamicsSlice& slice);
    std::array<uint8_t, kGlobalParamCount> bytes() const { return bytes_; }

private:
    template <size_t N>
    GlobalsBuilder& set(int index, const std::array<uint8_t, N>& slice)
    {
        return set(index, std::vector<uint8_t>(slice.begin(), slice.end()));
    }
    GlobalsBuilder& set(int index, const std::vector<uint8_t>& bytes);

    std::array<uint8_t, kGlobalParamCount> bytes_{};
};

// An event stream, each message with its status byte; bytes() appends the
// end byte kStreamEnd.
class StreamBuilder {
public:
    StreamBuilder& note_on(int channel, uint8_t note, uint8_t velocity) { return put(0x90, channel, {note, velocity}); }
    StreamBuilder& note_off(int channel, uint8_t note, uint8_t velocity = 0)
    {
        return put(0x80, channel, {note, velocity});
    }
    StreamBuilder& controller(int channel, uint8_t number, uint8_t value)
    {
        return put(0xB0, channel, {number, value});
    }
    StreamBuilder& program(int channel, uint8_t program) { return put(0xC0, channel, {program}); }
    StreamBuilder& reset() { return put(0xFF, 0, {}); }
    std::vector<uint8_t> bytes() const;

private:
    StreamBuilder& put(uint8_t status, int channel, std::initializer_list<uint8_t> data)
    {
        bytes_.push_back(static_cast<uint8_t>(status | (channel & 0x0F)));
        bytes_.insert(bytes_.end(), data);
        return *this;
    }

    std::vector<uint8_t> bytes_;
};
