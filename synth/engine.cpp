#include "synth/engine.h"

#include "synth/fp_mode.h"

bool synth_init(SynthEngine& engine, const uint8_t* patch_bank, int32_t sample_rate)
{
    FpModeGuard mode;
    RateConstants probe;
    if (!rate_setup(probe, sample_rate)) return false;

    speech_set_rate(engine.speech, static_cast<uint32_t>(sample_rate));
    engine.state = SynthState{};
    engine.sample_rate = sample_rate;
    rate_setup(engine.rates, sample_rate);
    engine.patch_bank = patch_bank;
    // The lanes clear their work memory on first use (the engine may not be
    // zero-initialised, or may be set up again after a render).
    for (RenderScratch& scratch : engine.buffers.scratch) scratch.lanes.zeroed = 0;
    if (engine.lane_width == 0) synth_set_lane_width(engine, voice_lanes_widest());

    for (int v = 0; v < kVoiceCount; ++v) {
        voice_reset(engine, v);
        engine.state.voice_channel[v] = -1;
    }
    for (int c = 0; c < kChannelCount; ++c) {
        // Controller 7 (the volume controller by convention) starts at its top.
        engine.state.channel_controls[c].controllers[kControllerCount - 1] = 127;
        DelayState& delay = engine.state.channels[c].delay;
        delay.ring_left = engine.buffers.channel_delay_rings[c];
        delay.ring_right = engine.buffers.channel_delay_rings[c] + kChannelDelayFrames;
        delay.mask = kChannelDelayFrames - 1;
        channel_reset(engine, c);
    }
    reverb_reset(engine.state.reverb);
    engine.state.global_delay.ring_left = engine.buffers.global_delay_rings;
    engine.state.global_delay.ring_right = engine.buffers.global_delay_rings + kGlobalDelayFrames;
    engine.state.global_delay.mask = kGlobalDelayFrames - 1;
    delay_reset(engine.state.global_delay);
    speech_init(engine.speech);
    dynamics_init(engine.state.master_dynamics);
    return true;
}

bool synth_set_lane_width(SynthEngine& engine, int32_t width)
{
    if (width != 1 && voice_lanes_renderer(width) == nullptr) return false;
    engine.lane_width = width;
    // Four lanes are the SSE2 build: wherever a wider one runs, its frames cost
    // fewer instructions even with half the lanes idle, so small groups take it.
    for (int k = 0; k < kLaneWidthCount; ++k) {
        const bool use = kLaneWidths[k] <= width && (kLaneWidths[k] > 4 || width == 4);
        engine.voice_lanes[k] = use ? voice_lanes_renderer(kLaneWidths[k]) : nullptr;
    }
    return true;
}

void synth_attach_workers(SynthEngine& engine, SynthWorkers* workers)
{
    engine.workers = workers;
}

void synth_voice_usage(const SynthEngine& engine, int32_t counts[kChannelCount + 1])
{
    for (int c = 0; c <= kChannelCount; ++c) counts[c] = 0;
    for (int v = 0; v < kVoiceCount; ++v) {
        const int32_t c = engine.state.voice_channel[v];
        if (c < 0 || c >= kChannelCount) continue;
        ++counts[c];
        ++counts[kChannelCount];
    }
}

void synth_channel_programs(const SynthEngine& engine, int32_t programs[kChannelCount])
{
    for (int c = 0; c < kChannelCount; ++c) programs[c] = engine.state.channel_controls[c].program;
}

int32_t synth_block_size(const SynthEngine& engine)
{
    return engine.rates.block_size;
}
