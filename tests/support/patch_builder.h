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

#include "synth/constants.h"

// Parameter slices on the 0..128 scale, in the order of their bytes. The
// defaults are neutral: units off or passing the signal through.
struct OscillatorSlice {
    uint8_t mode = 0;  // silent
    uint8_t ring = 0;
    uint8_t transpose = 64;  // semitones = value - 64
    uint8_t detune = 64;
    uint8_t color = 64;
    uint8_t gain = 128;
};

struct FilterSlice {
    uint8_t mode = 0;  // pass-through
    uint8_t cutoff = 128;
    uint8_t resonance = 0;
};

struct DistortionSlice {
    uint8_t mode = 0;  // off
    uint8_t drive = 32;  // drive 1
    uint8_t a = 128;
    uint8_t b = 64;
};

// Opens in one tick, holds level 128 (amplitude 1), ends one tick after note-off.
struct EnvelopeSlice {
    uint8_t attack = 0;
    uint8_t decay = 0;
    uint8_t sustain = 128;
    uint8_t slope = 64;
    uint8_t release = 0;
    uint8_t gain = 128;
};

struct LfoSlice {
    uint8_t waveform = 0;
    uint8_t key_sync = 0;
    uint8_t one_shot = 0;
    uint8_t rate = 0;
    uint8_t start_phase = 0;
    uint8_t polarity = 0;
    uint8_t amount = 0;  // no output
};

struct DelaySlice {
    uint8_t dry_wet = 64;  // wet 0: bypassed
    uint8_t feedback = 64;
    uint8_t left = 0;
    uint8_t right = 0;
    uint8_t rate = 0;
    uint8_t depth = 0;
    uint8_t stereo_phase = 64;
};

struct DynamicsSlice {
    uint8_t detector = 0;  // off
    uint8_t stereo = 0;
    uint8_t compensation_off = 0;
    uint8_t look_ahead = 0;  // ms
    uint8_t threshold = 64;
    uint8_t ratio = 0;
    uint8_t attack = 0;
    uint8_t release = 0;
    uint8_t output = 64;  // 0 dB
};

struct ReverbSlice {
    uint8_t decay = 0;
    uint8_t damping = 0;
    uint8_t low_cut = 0;
    uint8_t input = 0;  // silent
};

struct ModulationEntry {
    uint8_t source;
    uint8_t amount;  // 64 = factor 0
    uint8_t destination;
};

// One patch. Defaults: pan 64, no transpose, all oscillators silent, filters
// passing, routing 0, balance 64, distortion off, both envelopes as
// EnvelopeSlice{}, LFOs without output, no phase reset; channel volume 128,
// no sends, effect order 0, no shelf, channel distortion, delay and dynamics
// off; polyphony 16; no modulation entries.
class PatchBuilder {
public:
    PatchBuilder();

    // Any byte of the 85 fixed bytes by its patch offset.
    PatchBuilder& byte(int offset, uint8_t value);

    PatchBuilder& pan(uint8_t value);
    PatchBuilder& transpose(uint8_t value);
    PatchBuilder& oscillator(int which, const OscillatorSlice& slice);  // which 0..2
    PatchBuilder& filter(int which, const FilterSlice& slice);          // which 0..1
    PatchBuilder& routing(uint8_t value);
    PatchBuilder& balance(uint8_t value);
    PatchBuilder& distortion(const DistortionSlice& slice);
    PatchBuilder& envelope(int which, const EnvelopeSlice& slice);  // which 0..1
    PatchBuilder& lfo(int which, const LfoSlice& slice);            // which 0..1
    PatchBuilder& phase_reset(uint8_t value);

    PatchBuilder& volume(uint8_t value);
    PatchBuilder& reverb_send(uint8_t value);
    PatchBuilder& delay_send(uint8_t value);
    PatchBuilder& effect_order(uint8_t value);
    PatchBuilder& shelf(uint8_t value);
    PatchBuilder& channel_distortion(const DistortionSlice& slice);
    PatchBuilder& channel_delay(const DelaySlice& slice);
    PatchBuilder& channel_dynamics(const DynamicsSlice& slice);

    PatchBuilder& polyphony(uint8_t value);
    PatchBuilder& modulate(uint8_t source, uint8_t amount, uint8_t destination);

    // 86 + 3 N bytes.
    std::vector<uint8_t> bytes() const;

private:
    std::array<uint8_t, 85> fixed_{};
    std::vector<ModulationEntry> modulation_;
};

// A patch bank: the offset table, then the patches in the order added.
class BankBuilder {
public:
    // Appends a patch as the next program number.
    BankBuilder& add(const PatchBuilder& patch);
    // Lists count programs in the table (at least the ones added); programs
    // without a patch of their own point at program 0's patch.
    BankBuilder& table_entries(int count);
    int program_count() const { return static_cast<int>(patches_.size()); }
    std::vector<uint8_t> bytes() const;

private:
    std::vector<std::vector<uint8_t>> patches_;
    int table_entries_ = 0;
};

// The 22-byte global parameter block. Defaults: reverb silent, global delay
// bypassed, low cut 0 (1/16384: removes only DC), high cut 127 (bypassed),
// master dynamics off.
class GlobalsBuilder {
public:
    GlobalsBuilder();
    GlobalsBuilder& byte(int index, uint8_t value);
    GlobalsBuilder& reverb(const ReverbSlice& slice);
    GlobalsBuilder& delay(const DelaySlice& slice);
    GlobalsBuilder& low_cut(uint8_t value);
    GlobalsBuilder& high_cut(uint8_t value);
    GlobalsBuilder& dynamics(const DynamicsSlice& slice);
    std::array<uint8_t, kGlobalParamCount> bytes() const { return bytes_; }

private:
    std::array<uint8_t, kGlobalParamCount> bytes_{};
};

// An event stream. Every message writes its status byte unless running()
// was called just before it; bytes() appends the end byte 0xFD.
class StreamBuilder {
public:
    StreamBuilder& note_on(int channel, uint8_t note, uint8_t velocity);
    StreamBuilder& note_off(int channel, uint8_t note, uint8_t velocity = 0);  // 0x8n
    StreamBuilder& controller(int channel, uint8_t number, uint8_t value);
    StreamBuilder& program(int channel, uint8_t program);
    StreamBuilder& reset();  // 0xFF
    // The next message leaves out its status byte (running status).
    StreamBuilder& running();
    StreamBuilder& raw(std::initializer_list<uint8_t> bytes);
    std::vector<uint8_t> bytes() const;

private:
    void message(uint8_t status, std::initializer_list<uint8_t> data);

    std::vector<uint8_t> bytes_;
    bool running_ = false;
};
