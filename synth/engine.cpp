#include "synth/engine.h"

#include <cstring>

#include "synth/fp_mode.h"

bool synth_init(SynthEngine& engine, const uint8_t* patch_bank, int32_t sample_rate)
{
    FpModeGuard mode;
    RateConstants probe;
    if (!rate_setup(probe, sample_rate)) return false;

    speech_set_rate(engine.speech, static_cast<uint32_t>(sample_rate));
    std::memset(static_cast<void*>(&engine), 0, kSynthZeroedBytes);
    engine.sample_rate = sample_rate;
    rate_setup(engine.rates, sample_rate);
    engine.patch_bank = patch_bank;

    for (int v = 0; v < kVoiceCount; ++v) {
        voice_reset(engine, v);
        engine.voice_channel[v] = -1;
    }
    for (int c = 0; c < kChannelCount; ++c) {
        engine.channel_controls[c].bytes[7] = 127;
        DelayState& delay = engine.channels[c].delay;
        delay.ring_left = engine.buffers.channel_delay_rings[c];
        delay.ring_right = engine.buffers.channel_delay_rings[c] + kChannelDelayFrames;
        delay.mask = kChannelDelayFrames - 1;
        channel_reset(engine, c);
    }
    reverb_reset(engine.reverb);
    engine.global_delay.ring_left = engine.buffers.global_delay_rings;
    engine.global_delay.ring_right = engine.buffers.global_delay_rings + kGlobalDelayFrames;
    engine.global_delay.mask = kGlobalDelayFrames - 1;
    delay_reset(engine.global_delay);
    speech_init(engine.speech);
    dynamics_init(engine.master_dynamics);
    return true;
}

void synth_voice_usage(const SynthEngine& engine, int32_t counts[kChannelCount + 1])
{
    for (int c = 0; c <= kChannelCount; ++c) counts[c] = 0;
    for (int v = 0; v < kVoiceCount; ++v) {
        const int32_t c = engine.voice_channel[v];
        if (c < 0 || c >= kChannelCount) continue;
        ++counts[c];
        ++counts[kChannelCount];
    }
}

void synth_channel_programs(const SynthEngine& engine, int32_t programs[kChannelCount])
{
    for (int c = 0; c < kChannelCount; ++c) programs[c] = engine.channel_controls[c].bytes[0];
}

int32_t synth_block_size(const SynthEngine& engine)
{
    return engine.rates.block_size;
}
