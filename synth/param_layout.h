// Where every parameter byte sits: the voice and channel blocks of a patch,
// the patch around them, and the global block. A block is a run of unit
// slices whose inner order the unit's own header gives (OscillatorParam and
// so on); each position below follows from the one before it, so a position
// is written nowhere else. Units, the authoring table, tests and the
// documentation all name the bytes through these constants.
#pragma once

#include <cstdint>

#include "synth/constants.h"
#include "synth/delay.h"
#include "synth/dynamics.h"
#include "synth/reverb.h"
#include "synth/units/distortion.h"
#include "synth/units/envelope.h"
#include "synth/units/filter.h"
#include "synth/units/lfo.h"
#include "synth/units/oscillator.h"

// Voice parameters: patch bytes from kPatchVoiceOffset, also the modulation
// destinations 0..kVoiceParamCount - 1.
enum VoiceParam : int32_t {
    kVoicePan = 0,    // 0 left, 64 centre, 128 right
    kVoiceTranspose,  // semitones + 64
    kVoiceOscillator1,
    kVoiceOscillator2 = kVoiceOscillator1 + OscillatorParam::kCount,
    kVoiceOscillator3 = kVoiceOscillator2 + OscillatorParam::kCount,
    kVoiceFilter1 = kVoiceOscillator3 + OscillatorParam::kCount,
    kVoiceFilter2 = kVoiceFilter1 + FilterParam::kCount,
    kVoiceRouting = kVoiceFilter2 + FilterParam::kCount,  // FilterRouting
    kVoiceBalance,                                        // parallel routing: 64 both filters in full
    kVoiceDistortion,
    kVoiceEnvelope1 = kVoiceDistortion + DistortionParam::kCount,  // the amplitude envelope
    kVoiceEnvelope2 = kVoiceEnvelope1 + EnvelopeParam::kCount,
    kVoiceLfo1 = kVoiceEnvelope2 + EnvelopeParam::kCount,
    kVoiceLfo2 = kVoiceLfo1 + LfoParam::kCount,
    kVoicePhaseReset = kVoiceLfo2 + LfoParam::kCount,  // 1: note-on zeroes the oscillator phases
    kVoiceParamCount,
};

// Channel parameters: patch bytes from kPatchChannelOffset.
enum ChannelParam : int32_t {
    kChannelVolume = 0,  // value/128 x 0.6
    kChannelReverbSend,
    kChannelDelaySend,
    kChannelEffectOrder,  // 0: distortion then delay; other: delay then distortion
    kChannelShelf,        // low-shelf boost, 0 off
    kChannelDistortion,
    kChannelDelay = kChannelDistortion + DistortionParam::kCount,
    kChannelDynamics = kChannelDelay + DelayParam::kCount,
    kChannelParamCount = kChannelDynamics + DynamicsParam::kCount,
};

// The global block: the master section's parameters.
enum GlobalParam : int32_t {
    kGlobalReverb = 0,
    kGlobalDelay = kGlobalReverb + ReverbParam::kCount,
    kGlobalLowCut = kGlobalDelay + DelayParam::kCount,  // coefficient ((value + 1)/128)^2
    kGlobalHighCut,                                     // the same; 127 bypasses
    kGlobalDynamics,
    kGlobalParamCount = kGlobalDynamics + DynamicsParam::kCount,
};

// A patch: the voice block, the channel block, polyphony, the number N of
// modulation entries, then N entries of (source, amount, destination).
constexpr int kPatchVoiceOffset = 0;
constexpr int kPatchChannelOffset = kPatchVoiceOffset + kVoiceParamCount;
constexpr int kPatchPolyphonyOffset = kPatchChannelOffset + kChannelParamCount;
constexpr int kPatchParamBytes = kPatchPolyphonyOffset + 1;  // the fixed bytes
constexpr int kPatchModCountOffset = kPatchParamBytes;
constexpr int kPatchModOffset = kPatchModCountOffset + 1;
constexpr int kPatchHeaderBytes = kPatchModOffset;  // a patch is this + 3 N bytes
constexpr int kModEntryBytes = 3;

// Modulation sources.
constexpr int kModSourceVelocity = 0;
constexpr int kModSourceController1 = 1;  // controllers 1..7
constexpr int kModSourceEnvelope1 = kModSourceController1 + kControllerCount;
constexpr int kModSourceEnvelope2 = kModSourceEnvelope1 + 1;
constexpr int kModSourceLfo1 = kModSourceEnvelope2 + 1;
constexpr int kModSourceLfo2 = kModSourceLfo1 + 1;
constexpr int kModSourceKey = kModSourceLfo2 + 1;  // and above: (note - 48) x 2

// Modulation destinations number the patch bytes they change: the voice
// block, then the channel block; polyphony and above change nothing.
constexpr int kModDestChannelFirst = kPatchChannelOffset;
constexpr int kModDestinationCount = kPatchPolyphonyOffset;

// Stored songs and patch files rely on these sizes.
static_assert(kVoiceParamCount == 59 && kChannelParamCount == 25 && kPatchHeaderBytes == 86);
static_assert(kGlobalParamCount == 22);
