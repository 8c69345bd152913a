#include "synth/channel.h"

#include "synth/engine.h"
#include "synth/units/numeric.h"

void channel_convert_params(SynthEngine& engine, int c)
{
    ChannelState& channel = engine.state.channels[c];
    const float* p = engine.state.channel_params[c];
    const RateConstants& rates = engine.rates;

    // The coefficients follow from the parameters alone: the same bits as at
    // the last conversion leave them as they are.
    const uint64_t changes = params_take_changes(p, channel.converted_params, kChannelParamCount);
    if (changes == 0 && channel.converted != 0) return;
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

namespace {

typedef float Quad __attribute__((vector_size(16)));

// Adds the mono sum (left + right, not the mean) of n frames times gain to
// send; four frames at a time.
void add_send(float* send, const float* frames, float gain, int32_t n)
{
    if (bits_from_float(gain) == 0) return;
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        Quad first, second, s;
        __builtin_memcpy(&first, frames + 2 * i, sizeof first);
        __builtin_memcpy(&second, frames + 2 * i + 4, sizeof second);
        __builtin_memcpy(&s, send + i, sizeof s);
        const Quad left = __builtin_shufflevector(first, second, 0, 2, 4, 6);
        const Quad right = __builtin_shufflevector(first, second, 1, 3, 5, 7);
        s += (left + right) * gain;
        __builtin_memcpy(send + i, &s, sizeof s);
    }
    for (; i < n; ++i) send[i] += (frames[2 * i] + frames[2 * i + 1]) * gain;
}

}  // namespace

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
    const ChannelState& channel = engine.state.channels[c];
    SynthBuffers& buffers = engine.buffers;
    add_send(buffers.reverb_send, frames, channel.reverb_send, n);
    add_send(buffers.delay_send, frames, channel.delay_send, n);

    const float volume = channel.volume;
    float* master = buffers.master;
    int32_t i = 0;
    for (; i + 4 <= 2 * n; i += 4) {
        Quad m, f;
        __builtin_memcpy(&m, master + i, sizeof m);
        __builtin_memcpy(&f, frames + i, sizeof f);
        m += f * volume;
        __builtin_memcpy(master + i, &m, sizeof m);
    }
    for (; i < 2 * n; ++i) master[i] += frames[i] * volume;
}
