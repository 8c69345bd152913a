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
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "synth/channel.h"
#include "synth/constants.h"
#include "synth/patch.h"
#include "synth/voice.h"

// Parameter slices on the 0..128 scale, in the order of their bytes. The
// defaults are neutral: units off or passing the signal through.

// Mode 0 is silent; semitones = transpose - 64.
struct OscillatorSlice { uint8_t mode = 0, ring = 0, transpose = 64, detune = 64, color = 64, gain = 128; };
// Mode 0 passes the signal through.
struct FilterSlice { uint8_t mode = 0, cutoff = 128, resonance = 0; };
// Mode 0 is off; drive 32 is a drive of 1.
struct DistortionSlice { uint8_t mode = 0, drive = 32, a = 128, b = 64; };
// Opens in one tick, holds level 128 (amplitude 1), ends one tick after note-off.
struct EnvelopeSlice { uint8_t attack = 0, decay = 0, sustain = 128, slope = 64, release = 0, gain = 128; };
// Amount 0: no output.
struct LfoSlice { uint8_t waveform = 0, key_sync = 0, one_shot = 0, rate = 0, start_phase = 0, polarity = 0, amount = 0; };
// Dry/wet 64 is wet 0: bypassed.
struct DelaySlice { uint8_t dry_wet = 64, feedback = 64, left = 0, right = 0, rate = 0, depth = 0, stereo_phase = 64; };
// Detector 0 is off; look-ahead in ms; output 64 is 0 dB.
struct DynamicsSlice {
    uint8_t detector = 0, stereo = 0, compensation_off = 0, look_ahead = 0, threshold = 64, ratio = 0, attack = 0,
            release = 0, output = 64;
};
// Input 0 is silent.
struct ReverbSlice { uint8_t decay = 0, damping = 0, low_cut = 0, input = 0; };

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

    PatchBuilder& pan(uint8_t value) { return byte(kVoicePan, value); }
    PatchBuilder& transpose(uint8_t value) { return byte(kVoiceTranspose, value); }
    PatchBuilder& oscillator(int which, const OscillatorSlice& slice);  // which 0..2
    PatchBuilder& filter(int which, const FilterSlice& slice);          // which 0..1
    PatchBuilder& routing(uint8_t value) { return byte(kVoiceRouting, value); }
    PatchBuilder& balance(uint8_t value) { return byte(kVoiceBalance, value); }
    PatchBuilder& distortion(const DistortionSlice& slice);
    PatchBuilder& envelope(int which, const EnvelopeSlice& slice);  // which 0..1
    PatchBuilder& lfo(int which, const LfoSlice& slice);            // which 0..1
    PatchBuilder& phase_reset(uint8_t value) { return byte(kVoicePhaseReset, value); }

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

    // 86 + 3 N bytes.
    std::vector<uint8_t> bytes() const;

private:
    PatchBuilder& set(int offset, const std::vector<uint8_t>& values);

    std::array<uint8_t, 85> fixed_{};
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
    GlobalsBuilder& low_cut(uint8_t value) { return byte(11, value); }
    GlobalsBuilder& high_cut(uint8_t value) { return byte(12, value); }
    GlobalsBuilder& dynamics(const DynamicsSlice& slice);
    std::array<uint8_t, kGlobalParamCount> bytes() const { return bytes_; }

private:
    GlobalsBuilder& set(int index, const std::vector<uint8_t>& values);

    std::array<uint8_t, kGlobalParamCount> bytes_{};
};

// An event stream, each message with its status byte; bytes() appends the
// end byte 0xFD.
class StreamBuilder {
public:
    StreamBuilder& note_on(int channel, uint8_t note, uint8_t velocity) { return put(0x90, channel, {note, velocity}); }
    StreamBuilder& note_off(int channel, uint8_t note, uint8_t velocity = 0)
    {
        return put(0x80, channel, {note, velocity});
    }
    StreamBuilder& controller(int channel, uint8_t number, uint8_t value) { return put(0xB0, channel, {number, value}); }
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
