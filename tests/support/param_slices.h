// Unit parameter slices with one field a parameter, for tests and benchmarks:
// values() places each field at its unit's offset, so no test spells a
// position. Bytes (uint8_t) build patches; floats feed a unit's setup directly.
// The defaults are neutral: units off or passing the signal through.
//
//   const auto p = values(OscillatorParams<float>{.mode = kOscillatorSine, .colour = 30});
//   oscillator_setup(osc, p.data(), RateConstants{});
#pragma once

#include <array>
#include <cstdint>

#include "synth/param_layout.h"

// Mode 0 is silent; semitones = transpose - 64.
template <typename T>
struct OscillatorParams {
    T mode = 0, ring = 0, transpose = 64, detune = 64, colour = 64, gain = 128;
};
// Mode 0 passes the signal through.
template <typename T>
struct FilterParams {
    T mode = 0, cutoff = 128, resonance = 0;
};
// Mode 0 is off; drive 32 is a drive of 1.
template <typename T>
struct DistortionParams {
    T mode = 0, drive = 32, a = 128, b = 64;
};
// Opens in one tick, holds level 128 (amplitude 1), ends one tick after note-off.
template <typename T>
struct EnvelopeParams {
    T attack = 0, decay = 0, sustain = 128, slope = 64, release = 0, gain = 128;
};
// Amount 0: no output.
template <typename T>
struct LfoParams {
    T waveform = 0, key_sync = 0, one_shot = 0, rate = 0, start_phase = 0, polarity = 0, amount = 0;
};
// Mix 64 is wet 0: bypassed.
template <typename T>
struct DelayParams {
    T mix = 64, feedback = 64, left = 0, right = 0, rate = 0, depth = 0, stereo_phase = 64;
};
// Detector 0 is off; look-ahead in ms; output 64 is 0 dB.
template <typename T>
struct DynamicsParams {
    T detector = 0, stereo = 0, compensation_off = 0, look_ahead = 0, threshold = 64, ratio = 0, attack = 0,
      release = 0, output = 64;
};
// Input 0 is silent.
template <typename T>
struct ReverbParams {
    T decay = 0, damping = 0, low_cut = 0, input = 0;
};

template <typename T>
std::array<T, OscillatorParam::kCount> values(const OscillatorParams<T>& s)
{
    std::array<T, OscillatorParam::kCount> v{};
    v[OscillatorParam::kMode] = s.mode;
    v[OscillatorParam::kRing] = s.ring;
    v[OscillatorParam::kTranspose] = s.transpose;
    v[OscillatorParam::kDetune] = s.detune;
    v[OscillatorParam::kColour] = s.colour;
    v[OscillatorParam::kGain] = s.gain;
    return v;
}

template <typename T>
std::array<T, FilterParam::kCount> values(const FilterParams<T>& s)
{
    std::array<T, FilterParam::kCount> v{};
    v[FilterParam::kMode] = s.mode;
    v[FilterParam::kCutoff] = s.cutoff;
    v[FilterParam::kResonance] = s.resonance;
    return v;
}

template <typename T>
std::array<T, DistortionParam::kCount> values(const DistortionParams<T>& s)
{
    std::array<T, DistortionParam::kCount> v{};
    v[DistortionParam::kMode] = s.mode;
    v[DistortionParam::kDrive] = s.drive;
    v[DistortionParam::kA] = s.a;
    v[DistortionParam::kB] = s.b;
    return v;
}

template <typename T>
std::array<T, EnvelopeParam::kCount> values(const EnvelopeParams<T>& s)
{
    std::array<T, EnvelopeParam::kCount> v{};
    v[EnvelopeParam::kAttack] = s.attack;
    v[EnvelopeParam::kDecay] = s.decay;
    v[EnvelopeParam::kSustain] = s.sustain;
    v[EnvelopeParam::kSlope] = s.slope;
    v[EnvelopeParam::kRelease] = s.release;
    v[EnvelopeParam::kGain] = s.gain;
    return v;
}

template <typename T>
std::array<T, LfoParam::kCount> values(const LfoParams<T>& s)
{
    std::array<T, LfoParam::kCount> v{};
    v[LfoParam::kWaveform] = s.waveform;
    v[LfoParam::kKeySync] = s.key_sync;
    v[LfoParam::kOneShot] = s.one_shot;
    v[LfoParam::kRate] = s.rate;
    v[LfoParam::kStartPhase] = s.start_phase;
    v[LfoParam::kPolarity] = s.polarity;
    v[LfoParam::kAmount] = s.amount;
    return v;
}

template <typename T>
std::array<T, DelayParam::kCount> values(const DelayParams<T>& s)
{
    std::array<T, DelayParam::kCount> v{};
    v[DelayParam::kMix] = s.mix;
    v[DelayParam::kFeedback] = s.feedback;
    v[DelayParam::kLeft] = s.left;
    v[DelayParam::kRight] = s.right;
    v[DelayParam::kRate] = s.rate;
    v[DelayParam::kDepth] = s.depth;
    v[DelayParam::kStereoPhase] = s.stereo_phase;
    return v;
}

template <typename T>
std::array<T, DynamicsParam::kCount> values(const DynamicsParams<T>& s)
{
    std::array<T, DynamicsParam::kCount> v{};
    v[DynamicsParam::kDetector] = s.detector;
    v[DynamicsParam::kStereo] = s.stereo;
    v[DynamicsParam::kCompensationOff] = s.compensation_off;
    v[DynamicsParam::kLookAhead] = s.look_ahead;
    v[DynamicsParam::kThreshold] = s.threshold;
    v[DynamicsParam::kRatio] = s.ratio;
    v[DynamicsParam::kAttack] = s.attack;
    v[DynamicsParam::kRelease] = s.release;
    v[DynamicsParam::kOutput] = s.output;
    return v;
}

template <typename T>
std::array<T, ReverbParam::kCount> values(const ReverbParams<T>& s)
{
    std::array<T, ReverbParam::kCount> v{};
    v[ReverbParam::kDecay] = s.decay;
    v[ReverbParam::kDamping] = s.damping;
    v[ReverbParam::kLowCut] = s.low_cut;
    v[ReverbParam::kInput] = s.input;
    return v;
}
