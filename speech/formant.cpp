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
    float bw;    // Hz, when bw_param is kConstant
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

constexpr float kUnityLevel = 70.0f;       // level units giving a gain of 1
constexpr float kLevelsPerOctave = 6.0f;   // level units per doubling of the gain
constexpr float kNoiseFeedback = 0.75f;    // one-pole low-pass on the white noise
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

void formant_compute_frame(SpeechSynth& speech, FormantFrame& frame, int32_t cur_row, int32_t blend_row,
                           float fraction)
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

    // Resonator k runs on the coefficients of resonator k in the current frame:
    // values[3k], values[3k + 1], values[3k + 2].
    float y1[kFormantResonatorCount];
    float y2[kFormantResonatorCount];
    for (int k = 0; k < kFormantResonatorCount; ++k) {
        y1[k] = state.resonators[k].y1;
        y2[k] = state.resonators[k].y2;
    }
    const ResonatorCoeffs out_k = settings.output_coeffs;
    float out_y1 = state.output_resonator.y1;
    float out_y2 = state.output_resonator.y2;
    float prev_excitation = state.prev_excitation;
    float dc1 = state.dc_state1;
    float dc2 = state.dc_state2;
    uint32_t seed = state.noise_seed;
    float noise_state = state.noise_state;
    constexpr int kVoiceGain = 3 * kFormantResonatorCount;
    constexpr int kAspirationGain = kVoiceGain + 1;
    constexpr int kFricationGain = kVoiceGain + 2;
    constexpr int kBypassGain = kVoiceGain + 3;

    auto step = [&](int k, float x) {
        const float* c = &values[3 * k];
        const float y = ((c[0] * x) + (c[1] * y1[k])) + (c[2] * y2[k]);
        y2[k] = y1[k];
        y1[k] = y;
        return y;
    };

    for (uint32_t n = 0; n < count; ++n) {
        // Ramp first, so the last frame of the block runs on the target itself.
        for (int i = 0; i < kFormantFrameValues; ++i) values[i] = values[i] + increments[i];

        const float carrier = frames[2 * n];
        const float aspiration = noise_advance(seed, noise_state);
        const float excitation = (aspiration * values[kAspirationGain]) + (carrier * values[kVoiceGain]);
        const float s = step(0, excitation) + step(1, excitation);
        const float noise = noise_advance(seed, noise_state);
        const float frication = ((noise * values[kFricationGain]) + excitation) - prev_excitation;
        prev_excitation = excitation;

        // R6 - R5 + R4 - R3 + R2 - R1 - R0.
        float acc = s;
        for (int k = 2; k < kFormantResonatorCount; ++k) acc = step(k, frication) - acc;
        const float x = (frication * values[kBypassGain]) - acc;

        // Two DC-blocking stages.
        const float d1 = x - dc1;
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

    std::memcpy(&state.current, values, sizeof(values));
    for (int k = 0; k < kFormantResonatorCount; ++k) {
        state.resonators[k].y1 = y1[k];
        state.resonators[k].y2 = y2[k];
    }
    state.output_resonator.y1 = out_y1;
    state.output_resonator.y2 = out_y2;
    state.prev_excitation = prev_excitation;
    state.noise_seed = seed;
    state.noise_state = noise_state;
    state.dc_state1 = dc1;
    state.dc_state2 = dc2;
}
