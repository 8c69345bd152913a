#include "synth/voice.h"

#include <cmath>
#include <cstring>

#include "synth/engine.h"
#include "synth/lanes.h"
#include "synth/units/numeric.h"

void voice_convert_params(SynthEngine& engine, int v, uint64_t changes)
{
    VoiceState& voice = engine.state.voices[v];
    const float* p = engine.state.voice_params[v];
    const RateConstants& rates = engine.rates;
    // A unit's coefficients follow from its slice alone (an oscillator's phase
    // step from its transpose and detune, the note and the voice transpose), so
    // a unit whose inputs are the same bits as at the last conversion is left
    // as it is.
    const auto changed = [&](int first, int count) { return params_changed(changes, first, count); };
    const bool pitch_changed = changed(kVoiceTranspose, 1) || voice.converted_note != voice.note;

    if (pitch_changed) {
        voice.transpose = clamp_parameter(p[kVoiceTranspose]) - 64.0f;
        const float note = static_cast<float>(voice.note) + voice.transpose;
        for (OscillatorState& osc : voice.oscillators) osc.note = note;
    }
    if (changed(kVoiceRouting, 1)) voice.routing = nearest(p[kVoiceRouting]);
    if (changed(kVoicePhaseReset, 1)) voice.phase_reset = nearest(p[kVoicePhaseReset]);

    if (changed(kVoicePan, 1)) {
        // Equal-power pan: 0 hard left, 64 both 0.7071, 128 hard right.
        const float k = clamp_parameter(p[kVoicePan]) / 128.0f;
        voice.pan_left = static_cast<float>(std::sqrt(static_cast<double>(1.0f - k)));
        voice.pan_right = static_cast<float>(std::sqrt(static_cast<double>(k)));
    }
    if (changed(kVoiceBalance, 1)) {
        // Parallel balance: below 64 fades filter 2 out, above 64 fades filter 1 out.
        const float x = clamp_parameter(p[kVoiceBalance]) - 64.0f;
        const float d = x / 64.0f;
        if (nearest(x) < 0) {
            voice.filter1_gain = 1.0f;
            voice.filter2_gain = 1.0f + d;
        } else {
            voice.filter1_gain = 1.0f - d;
            voice.filter2_gain = 1.0f;
        }
    }

    // The oscillators' slices follow one another: each takes the lowest
    // kCount bits of what remains of the changes.
    static_assert(kVoiceOscillator3 == kVoiceOscillator1 + 2 * OscillatorParam::kCount);
    static_assert(OscillatorParam::kDetune == OscillatorParam::kTranspose + 1);
    uint64_t slice = changes >> kVoiceOscillator1;
    const float* slice_params = p + kVoiceOscillator1;
    for (OscillatorState& osc : voice.oscillators) {
        const uint32_t own = static_cast<uint32_t>(slice) & ((1u << OscillatorParam::kCount) - 1u);
        if (own != 0) oscillator_setup_slice(osc, slice_params, own);
        if (pitch_changed || params_changed(slice, OscillatorParam::kTranspose, 2)) oscillator_update_pitch(osc, rates);
        slice >>= OscillatorParam::kCount;
        slice_params += OscillatorParam::kCount;
    }
    if (changed(kVoiceEnvelope1, EnvelopeParam::kCount)) envelope_setup(voice.envelopes[0], p + kVoiceEnvelope1);
    if (changed(kVoiceEnvelope2, EnvelopeParam::kCount)) envelope_setup(voice.envelopes[1], p + kVoiceEnvelope2);
    if (changed(kVoiceFilter1, FilterParam::kCount)) filter_setup(voice.filters[0], p + kVoiceFilter1, rates);
    if (changed(kVoiceFilter2, FilterParam::kCount)) filter_setup(voice.filters[1], p + kVoiceFilter2, rates);
    if (changed(kVoiceLfo1, LfoParam::kCount)) lfo_setup(voice.lfos[0], p + kVoiceLfo1);
    if (changed(kVoiceLfo2, LfoParam::kCount)) lfo_setup(voice.lfos[1], p + kVoiceLfo2);
    if (changed(kVoiceDistortion, DistortionParam::kCount))
        distortion_setup(voice.distortion, p + kVoiceDistortion, rates);
    voice.converted_note = voice.note;
    voice.converted = 1;
}

void voice_note_on(SynthEngine& engine, int v, int32_t note, int32_t velocity)
{
    VoiceState& voice = engine.state.voices[v];
    voice.note = note;
    const float pitch = static_cast<float>(note) + voice.transpose;
    for (OscillatorState& osc : voice.oscillators) osc.note = pitch;
    voice.velocity = static_cast<float>(velocity);
    voice.gate = 1;
    // Levels are kept: a re-used voice attacks from where it was.
    voice.envelopes[0].state = kEnvelopeAttack;
    voice.envelopes[1].state = kEnvelopeAttack;
    if (voice.phase_reset != 0) {
        for (OscillatorState& osc : voice.oscillators) osc.phase = 0;
    }
    for (OscillatorState& osc : voice.oscillators) oscillator_update_pitch(osc, engine.rates);
    lfo_key_on(voice.lfos[0]);
    lfo_key_on(voice.lfos[1]);
}

void voice_note_off(SynthEngine& engine, int v)
{
    engine.state.voices[v].gate = 0;
}

void voice_reset(SynthEngine& engine, int v)
{
    VoiceState& voice = engine.state.voices[v];
    SeedSource& seeds = engine.seeds;
    // Five reads a voice, in this order: the three oscillators, the two LFOs.
    oscillator_reset(voice.oscillators[0], seed_source_read(seeds));
    oscillator_reset(voice.oscillators[1], seed_source_read(seeds));
    oscillator_reset(voice.oscillators[2], seed_source_read(seeds));
    envelope_reset(voice.envelopes[0]);
    envelope_reset(voice.envelopes[1]);
    filter_reset(voice.filters[0]);
    filter_reset(voice.filters[1]);
    lfo_reset(voice.lfos[0], seed_source_read(seeds));
    lfo_reset(voice.lfos[1], seed_source_read(seeds));
    distortion_reset(voice.distortion);
}

void voice_clear(SynthEngine& engine, int v)
{
    voice_reset(engine, v);
    VoiceState& voice = engine.state.voices[v];
    voice.amplitude = 0.0f;
    voice.amplitude_step = 0.0f;
    for (EnvelopeState& env : voice.envelopes) {
        env.level = 0.0f;
        env.out = 0.0f;
    }
    for (LfoState& lfo : voice.lfos) lfo.out = 0.0f;
}

void voice_tick(SynthEngine& engine, int v)
{
    VoiceState& voice = engine.state.voices[v];
    envelope_tick(voice.envelopes[0], voice.gate);
    envelope_tick(voice.envelopes[1], voice.gate);
    lfo_tick(voice.lfos[0]);
    lfo_tick(voice.lfos[1]);
    // The amplitude reaches the envelope's level over one block; a longer ramp
    // would overshoot it, and at blocks of more than 256 frames swing wider
    // every block.
    const float block = static_cast<float>(engine.rates.block_size);
    voice.amplitude_step = ((voice.envelopes[0].out / 128.0f) - voice.amplitude) / block;
}

void voice_render(SynthEngine& engine, int v, int32_t n, RenderScratch& scratch)
{
    VoiceState& voice = engine.state.voices[v];
    float* work = scratch.voice_work;
    float* second = scratch.second_filter;

    std::memset(work, 0, sizeof(float) * static_cast<size_t>(n));
    oscillator_render(voice.oscillators[0], work, n);
    oscillator_render(voice.oscillators[1], work, n);
    oscillator_render(voice.oscillators[2], work, n);

    if (voice.routing == kRoutingParallel) {
        filter_render(voice.filters[1], work, second, n);
        filter_render(voice.filters[0], work, work, n);
        const float gain1 = voice.filter1_gain;
        const float gain2 = voice.filter2_gain;
        for (int32_t i = 0; i < n; ++i) work[i] = (work[i] * gain1) + (second[i] * gain2);
    } else if (voice.routing == kRoutingFilter1) {
        filter_render(voice.filters[0], work, work, n);
    } else {
        filter_render(voice.filters[0], work, work, n);
        filter_render(voice.filters[1], work, work, n);
    }
    distortion_render_mono(voice.distortion, work, work, n);

    float* out = engine.buffers.voice_out[v];
    float amplitude = voice.amplitude;
    const float step = voice.amplitude_step;
    for (int32_t i = 0; i < n; ++i) {
        out[i] = work[i] * amplitude;
        amplitude += step;
    }
    voice.amplitude = amplitude;
}

bool voice_mix(SynthEngine& engine, int v, float* frames, int32_t n, bool clean)
{
    using L = Lanes<4>;
    float* samples = engine.buffers.voice_out[v];
    if (clean && block_sanitize(samples, n)) engine.state.faulty_voices[v] = 1;
    const float left = engine.state.voices[v].pan_left;
    const float right = engine.state.voices[v].pan_right;
    // Four frames at a time: each sample times its side's gain, added. A
    // sample that is not finite makes the sum of those read not finite.
    const L::F pan = {left, right, left, right};
    L::F sums = {};
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const L::F s = L::load(samples + i);
        sums = sums + s;
        L::store(frames + 2 * i, L::load(frames + 2 * i) + (__builtin_shufflevector(s, s, 0, 0, 1, 1) * pan));
        L::store(frames + 2 * i + 4, L::load(frames + 2 * i + 4) + (__builtin_shufflevector(s, s, 2, 2, 3, 3) * pan));
    }
    float sum = (sums[0] + sums[1]) + (sums[2] + sums[3]);
    for (; i < n; ++i) {
        sum = sum + samples[i];
        frames[2 * i] += samples[i] * left;
        frames[2 * i + 1] += samples[i] * right;
    }
    return (bits_from_float(sum) & kExponentBits) != kExponentBits;
}
