#include "speech/formant.h"

#include <cmath>
#include <cstring>

#include "speech/phonemes.h"
#include "synth/units/numeric.h"

namespace {

// Where a resonator takes its frequency, bandwidth and level from: a row
// parameter, or (index kConstant) a fixed value in Hz.
constexpr int kConstant = -1;

struct ResonatorSource {
    int freq_param;
    float freq;  // Hz, when freq_param is kConstant
    int bw_param;
    float bw;  // Hz, when bw_param is kConstant
    int level_param;
};

// Resonators 0 (nasal) and 1 run on the excitation, 2..6 on the frication source.
constexpr ResonatorSource kResonatorSources[kFormantResonatorCount] = {
    {kParamNasalFreq, 0.0f, kConstant, 100.0f, kParamNasalLevel},
    {kParamF1Freq, 0.0f, kParamF1Bandwidth, 0.0f, kParamF1Level},
    {kParamF2Freq, 0.0f, kParamF2Bandwidth, 0.0f, kParamF2Level},
    {kParamF3Freq, 0.0f, kParamF3Bandwidth, 0.0f, kParamF3Level},
    {kConstant, 3200.0f, kConstant, 200.0f, kParamF4Level},
    {kConstant, 4000.0f, kConstant, 500.0f, kParamHighLevel},
    {kConstant, 6000.0f, kConstant, 800.0f, kParamHighLevel},
};

constexpr float kUnityLevel = 70.0f;      // level units giving a gain of 1
constexpr float kLevelsPerOctave = 6.0f;  // level units per doubling of the gain
constexpr float kNoiseFeedback = 0.75f;   // one-pole low-pass on the white noise
constexpr float kNoiseScale = 0.25f;
constexpr float kDcBlockCoefficient = 0.012f;

static_assert(sizeof(FormantFrame) == kFormantFrameValues * sizeof(float));

// One draw of the filtered noise: white noise in [-1, 1) through a one-pole low-pass.
inline float noise_advance(uint32_t& seed, float& filtered)
{
    seed = random_step(seed);
    const float white = signed_from_bits(seed);
    filtered = white + (kNoiseFeedback * filtered);
    return kNoiseScale * filtered;
}

// The blend of a parameter between the two scratch rows, or of a constant with itself.
float blended(const float* cur_row, const float* blend_row, int param, float constant, float fraction)
{
    const float cur = param == kConstant ? constant : cur_row[param];
    const float blend = param == kConstant ? constant : blend_row[param];
    return cur + ((blend - cur) * fraction);
}

}  // namespace

void resonator_set(const SpeechSettings& settings, ResonatorCoeffs& coeffs, float freq, float bw, float gain)
{
    const float r = static_cast<float>(std::exp(static_cast<double>(settings.minus_pi_over_rate * bw)));
    coeffs.c = -(r * r);
    coeffs.b = (2.0f * r) * static_cast<float>(std::cos(static_cast<double>(settings.two_pi_over_rate * freq)));
    // Unity gain at 0 Hz times the level's gain.
    coeffs.a = gain * ((1.0f - coeffs.b) - coeffs.c);
}

float resonator_step(Resonator& resonator, float x)
{
    const ResonatorCoeffs& k = *resonator.coeffs;
    const float y = ((k.a * x) + (k.b * resonator.y1)) + (k.c * resonator.y2);
    resonator.y2 = resonator.y1;
    resonator.y1 = y;
    return y;
}

float level_to_gain(float cur, float blend, float fraction)
{
    const float v = cur + ((blend - cur) * fraction);
    return pow2((v - kUnityLevel) / kLevelsPerOctave);
}

float noise_next(SpeechState& state)
{
    return noise_advance(state.noise_seed, state.noise_state);
}

void formant_compute_frame(SpeechSynth& speech, FormantFrame& frame, int32_t cur_row, int32_t blend_row, float fraction)
{
    SpeechSettings& settings = speech.settings;
    float* cur = settings.scratch_cur;
    float* blend = settings.scratch_blend;
    std::memcpy(cur, settings.rows[cur_row], sizeof(settings.scratch_cur));
    std::memcpy(blend, settings.rows[blend_row], sizeof(settings.scratch_blend));

    for (int i = 0; i < kFormantResonatorCount; ++i) {
        const ResonatorSource& source = kResonatorSources[i];
        const float bw = blended(cur, blend, source.bw_param, source.bw, fraction);
        const float freq = blended(cur, blend, source.freq_param, source.freq, fraction) * settings.formant_scale;
        const float gain = level_to_gain(cur[source.level_param], blend[source.level_param], fraction);
        resonator_set(settings, frame.resonators[i], freq, bw, gain);
    }
    frame.voice_gain = level_to_gain(cur[kParamVoiceLevel], blend[kParamVoiceLevel], fraction);
    frame.aspiration_gain = level_to_gain(cur[kParamAspirationLevel], blend[kParamAspirationLevel], fraction);
    frame.frication_gain = level_to_gain(cur[kParamFricationLevel], blend[kParamFricationLevel], fraction);
    frame.bypass_gain = level_to_gain(cur[kParamBypassLevel], blend[kParamBypassLevel], fraction);
}

void formant_set_target(SpeechSynth& speech, int32_t cur_row, int32_t blend_row, float fraction)
{
    formant_compute_frame(speech, speech.state.target, cur_row, blend_row, fraction);
}

void speech_render(SpeechSynth& speech, float* frames, uint32_t count)
{
    if (count == 0) return;
    SpeechState& state = speech.state;
    SpeechSettings& settings = speech.settings;

    // The frame as 25 values, ramped one by one, coefficients included.
    float values[kFormantFrameValues];
    float target[kFormantFrameValues];
    std::memcpy(values, &state.current, sizeof(values));
    std::memcpy(target, &state.target, sizeof(target));
    const float inv_count = 1.0f / static_cast<float>(count);
    for (int i = 0; i < kFormantFrameValues; ++i) settings.increments[i] = (target[i] - values[i]) * inv_count;
    float increments[kFormantFrameValues];
    std::memcpy(increments, settings.increments, sizeof(increments));

    // Resonator k runs in lane k on the coefficients of resonator k in the
    // current frame (values[3k], values[3k + 1], values[3k + 2]); lane 7 idles
    // at zero. The seven resonators do not feed each other within a sample, so
    // side by side each performs its own operations unchanged.
    typedef float Octet __attribute__((vector_size(32)));
    Octet a{}, b{}, c{}, step_a{}, step_b{}, step_c{}, y1{}, y2{};
    for (int k = 0; k < kFormantResonatorCount; ++k) {
        a[k] = values[3 * k];
        b[k] = values[3 * k + 1];
        c[k] = values[3 * k + 2];
        step_a[k] = increments[3 * k];
        step_b[k] = increments[3 * k + 1];
        step_c[k] = increments[3 * k + 2];
        y1[k] = state.resonators[k].y1;
        y2[k] = state.resonators[k].y2;
    }
    constexpr int kVoiceGain = 3 * kFormantResonatorCount;
    constexpr int kGainCount = kFormantFrameValues - kVoiceGain;  // voice, aspiration, frication, bypass
    float gains[kGainCount];
    float gain_steps[kGainCount];
    for (int j = 0; j < kGainCount; ++j) {
        gains[j] = values[kVoiceGain + j];
        gain_steps[j] = increments[kVoiceGain + j];
    }
    float& voice_gain = gains[0];
    float& aspiration_gain = gains[1];
    float& frication_gain = gains[2];
    float& bypass_gain = gains[3];
    const ResonatorCoeffs out_k = settings.output_coeffs;
    float out_y1 = state.output_resonator.y1;
    float out_y2 = state.output_resonator.y2;
    float prev_excitation = state.prev_excitation;
    float dc1 = state.dc_state1;
    float dc2 = state.dc_state2;
    uint32_t seed = state.noise_seed;
    float noise_state = state.noise_state;

    for (uint32_t n = 0; n < count; ++n) {
        // Ramp first, so the last frame of the block runs on the target itself.
        a = a + step_a;
        b = b + step_b;
        c = c + step_c;
        for (int j = 0; j < kGainCount; ++j) gains[j] = gains[j] + gain_steps[j];

        const float carrier = frames[2 * n];
        const float aspiration = noise_advance(seed, noise_state);
        const float excitation = (aspiration * aspiration_gain) + (carrier * voice_gain);
        const float noise = noise_advance(seed, noise_state);
        const float frication = ((noise * frication_gain) + excitation) - prev_excitation;
        prev_excitation = excitation;

        // Resonators 0 and 1 on the excitation, 2..6 on the frication.
        const Octet x = {excitation, excitation, frication, frication, frication, frication, frication, 0.0f};
        const Octet y = ((a * x) + (b * y1)) + (c * y2);
        y2 = y1;
        y1 = y;

        // R6 - R5 + R4 - R3 + R2 - R1 - R0.
        float acc = y[0] + y[1];
        for (int k = 2; k < kFormantResonatorCount; ++k) acc = y[k] - acc;
        const float x_out = (frication * bypass_gain) - acc;

        // Two DC-blocking stages.
        const float d1 = x_out - dc1;
        dc1 = dc1 + (kDcBlockCoefficient * d1);
        const float d2 = d1 - dc2;
        dc2 = dc2 + (kDcBlockCoefficient * d2);

        const float shaped = ((out_k.a * d2) + (out_k.b * out_y1)) + (out_k.c * out_y2);
        out_y2 = out_y1;
        out_y1 = shaped;
        const float out = shaped - d2;
        frames[2 * n] = out;
        frames[2 * n + 1] = out;
    }

    for (int k = 0; k < kFormantResonatorCount; ++k) {
        values[3 * k] = a[k];
        values[3 * k + 1] = b[k];
        values[3 * k + 2] = c[k];
        state.resonators[k].y1 = y1[k];
        state.resonators[k].y2 = y2[k];
    }
    for (int j = 0; j < kGainCount; ++j) values[kVoiceGain + j] = gains[j];
    std::memcpy(&state.current, values, sizeof(values));
    state.output_resonator.y1 = out_y1;
    state.output_resonator.y2 = out_y2;
    state.prev_excitation = prev_excitation;
    state.noise_seed = seed;
    state.noise_state = noise_state;
    state.dc_state1 = dc1;
    state.dc_state2 = dc2;
}
