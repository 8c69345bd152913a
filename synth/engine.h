// The synthesizer: 16 channels, 32 voices, the master section and the speech
// synthesizer on channel 15, in one record passed explicitly. Fixed
// capacities, no allocation; every work buffer and ring lives in the record.
#pragma once

#include <cstdint>

#include "speech/speech.h"
#include "synth/channel.h"
#include "synth/constants.h"
#include "synth/delay.h"
#include "synth/dynamics.h"
#include "synth/patch.h"
#include "synth/reverb.h"
#include "synth/seed_source.h"
#include "synth/voice.h"
#include "synth/voice_lanes.h"
#include "synth/workers.h"

// A channel's program and its controllers 1..7 (modulation sources 1..7).
struct ChannelControls {
    uint8_t program;
    uint8_t controllers[kControllerCount];  // controller n at n - 1
};

// Master low-cut and high-cut, one pole each per side.
struct MasterCutFilter {
    float low_coefficient;
    float low_left;
    float low_right;
    float high_coefficient;  // exactly 1.0 bypasses the high cut
    float high_left;
    float high_right;
};

enum MasterUnit : uint32_t {
    kMasterReverb = 1,
    kMasterDelay = 2,
    kMasterDynamics = 4,  // with the low and high cut before it
};

constexpr int kMaxRenderThreads = kChannelCount;

// The work memory of one rendering thread.
struct RenderScratch {
    VoiceLaneScratch lanes;
    float voice_work[kMaxBlockSize];
    float second_filter[kMaxBlockSize];
    float detector[kMaxBlockSize * 2];
};

struct SynthBuffers {
    float voice_out[kVoiceCount][kMaxBlockSize];             // a busy voice's block after its amplitude ramp
    float channel_frames[kChannelCount][kMaxBlockSize * 2];  // a busy channel's block after its chain
    float detector[kMaxBlockSize * 2];                       // the master dynamics'
    float reverb_send[kMaxBlockSize];
    float delay_send[kMaxBlockSize];
    float master[kMaxBlockSize * 2];
    float global_delay_rings[kGlobalDelayFrames * 2];                   // left, then right
    float channel_delay_rings[kChannelCount][kChannelDelayFrames * 2];  // left, then right
    RenderScratch scratch[kMaxRenderThreads];
};

// Everything synth_init returns to zero before it sets what starts otherwise.
struct SynthState {
    int32_t running_status;              // low 8 bits; 0 = none yet
    uint32_t note_counter;               // stamp of the next voice assignment
    int32_t voice_channel[kVoiceCount];  // -1 = free
    uint32_t voice_stamp[kVoiceCount];
    ChannelControls channel_controls[kChannelCount];
    int32_t frames_left;  // of the current block not yet handed out
    float voice_params[kVoiceCount][kVoiceParamCount];
    VoiceState voices[kVoiceCount];
    float channel_params[kChannelCount][kChannelParamCount];
    ChannelState channels[kChannelCount];
    float global_params[kGlobalParamCount];
    ReverbState reverb;
    DelayState global_delay;
    DynamicsState master_dynamics;
    MasterCutFilter master_cut;
    // Units whose output became NaN or infinite in the last block, cleared
    // at the next block start. A flag per voice and channel, as each is
    // written by the thread that renders it.
    uint8_t faulty_voices[kVoiceCount];
    uint8_t faulty_channels[kChannelCount];
    uint32_t faulty_master;  // MasterUnit bits
};

struct SynthEngine {
    const uint8_t* patch_bank;
    int32_t sample_rate;
    SeedSource seeds;  // kept through synth_init: a fixed seed counts on across re-initialisations
    // How blocks are rendered, kept through synth_init: voices in lanes of
    // this width (1: the scalar path; 0 until synth_init picks the widest the
    // machine runs), channels on these threads (null: the caller's only).
    int32_t lane_width;
    // The renderer of each of kLaneWidths up to lane_width (else null): a
    // group of voices takes the narrowest that holds it.
    VoiceLanesRender voice_lanes[kLaneWidthCount];
    SynthWorkers* workers;
    RateConstants rates;
    SynthState state;
    SynthBuffers buffers;
    SpeechSynth speech;
};

// (Re)initialises the whole engine on a patch bank (not owned; must outlive
// the engine), reading five seeds a voice from the engine's seed source.
// Returns false, changing nothing, for a sample rate whose block would not fit
// the work buffers.
bool synth_init(SynthEngine& engine, const uint8_t* patch_bank, int32_t sample_rate);
// Converts the kGlobalParamCount-byte global parameter block.
void synth_set_globals(SynthEngine& engine, const uint8_t* block);
// Applies one stream of messages, up to its end byte kStreamEnd.
void synth_process_stream(SynthEngine& engine, const uint8_t* stream);
// Delivers count frames: interleaved into out when out_right is null, else
// left into out and right into out_right, added when add is non-zero.
void synth_render(SynthEngine& engine, float* out, int32_t count, float* out_right, int32_t add);
// Voices in lanes of this width from the next block: 1 for the scalar path,
// 4, 8 or 16. False, changing nothing, for a width this machine cannot run.
bool synth_set_lane_width(SynthEngine& engine, int32_t width);
// Channels rendered on these threads too from the next block (null: on the
// caller's thread only, the default). The pool must outlive its use.
void synth_attach_workers(SynthEngine& engine, SynthWorkers* workers);
// counts[c] = busy voices of channel c, counts[16] = all busy voices.
void synth_voice_usage(const SynthEngine& engine, int32_t counts[kChannelCount + 1]);
void synth_channel_programs(const SynthEngine& engine, int32_t programs[kChannelCount]);
int32_t synth_block_size(const SynthEngine& engine);

// Sets up and renders one block of n frames into buffers.master: the voices'
// and channels' set-up, the channels on the rendering threads, the master.
void block_mix(SynthEngine& engine, int32_t n);
