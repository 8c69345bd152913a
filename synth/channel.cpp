#include "synth/channel.h"

#include "synth/engine.h"
#include "synth/lanes.h"
#include "synth/units/numeric.h"

void channel_convert_params(SynthEngine& engine, int c)
{
    ChannelState& channel = engine.state.channels[c];
    const float* p = engine.state.channel_params[c];
    const RateConstants& rates = engine.rates;

    channel.converted = 1;

    channel.volume = (clamp_parameter(p[kChannelVolume]) / 128.0f) * kChannelGainScale;
    // The sends follow the volume, so volume 0 silences them too.
    channel.reverb_send = ((clamp_parameter(p[kChannelReverbSend]) / 128.0f) * kChannelGainScale) * channel.volume;
    channel.delay_send = ((clamp_parameter(p[kChannelDelaySend]) / 128.0f) * kChannelGainScale) * channel.volume;
    channel.effect_order = nearest(p[kChannelEffectOrder]);
    distortion_setup(channel.distortion, p + kChannelDistortion, rates);
    delay_setup(channel.delay, p + kChannelDelay, rates);
    dynamics_setup(channel.dynamics, p + kChannelDynamics);
    shelf_setup(channel.equaliser, p[kChannelShelf], rates);
}

void channel_reset(SynthEngine& engine, int c)
{
    ChannelState& channel = engine.state.channels[c];
    distortion_reset(channel.distortion);
    delay_reset(channel.delay);
    dynamics_init(channel.dynamics);
}

void channel_clear(SynthEngine& engine, int c)
{
    ChannelState& channel = engine.state.channels[c];
    distortion_reset(channel.distortion);
    delay_reset(channel.delay);
    dynamics_clear(channel.dynamics);
    shelf_clear(channel.equaliser);
    if (c == kSpeechChannel) speech_clear_memory(engine.speech);
}

void channel_render(SynthEngine& engine, int c, float* frames, int32_t n, float* detector)
{
    ChannelState& channel = engine.state.channels[c];
    dynamics_render(channel.dynamics, frames, n, detector);
    shelf_render(channel.equaliser, frames, n);
    if (channel.effect_order == 0) {
        distortion_render_stereo(channel.distortion, frames, frames, n);
        delay_render_insert(channel.delay, frames, n);
    } else {
        delay_render_insert(channel.delay, frames, n);
        distortion_render_stereo(channel.distortion, frames, frames, n);
    }
    if (block_sanitize(frames, 2 * n)) engine.state.faulty_channels[c] = 1;
}

void channel_mix(SynthEngine& engine, int c, const float* frames, int32_t n)
{
    using L = Lanes<4>;
    const ChannelState& channel = engine.state.channels[c];
    SynthBuffers& buffers = engine.buffers;
    // Each send takes the mono sum (left + right, not the mean) times its
    // gain; a gain of exactly +0.0 leaves its send untouched.
    const float reverb_gain = channel.reverb_send;
    const float delay_gain = channel.delay_send;
    float* const reverb = bits_from_float(reverb_gain) != 0 ? buffers.reverb_send : nullptr;
    float* const delay = bits_from_float(delay_gain) != 0 ? buffers.delay_send : nullptr;
    const float volume = channel.volume;
    float* const master = buffers.master;
    // One pass, four frames at a time.
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const L::F first = L::load(frames + 2 * i);
        const L::F second = L::load(frames + 2 * i + 4);
        const L::F mono =
            __builtin_shufflevector(first, second, 0, 2, 4, 6) + __builtin_shufflevector(first, second, 1, 3, 5, 7);
        if (reverb != nullptr) L::store(reverb + i, L::load(reverb + i) + (mono * reverb_gain));
        if (delay != nullptr) L::store(delay + i, L::load(delay + i) + (mono * delay_gain));
        L::store(master + 2 * i, L::load(master + 2 * i) + (first * volume));
        L::store(master + 2 * i + 4, L::load(master + 2 * i + 4) + (second * volume));
    }
    for (; i < n; ++i) {
        const float mono = frames[2 * i] + frames[2 * i + 1];
        if (reverb != nullptr) reverb[i] += mono * reverb_gain;
        if (delay != nullptr) delay[i] += mono * delay_gain;
        master[2 * i] += frames[2 * i] * volume;
        master[2 * i + 1] += frames[2 * i + 1] * volume;
    }
}
