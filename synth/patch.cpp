#include "synth/patch.h"

#include "synth/engine.h"
#include "synth/units/numeric.h"

namespace {

// amount 0..127 maps to a factor of -1 .. +0.984375.
float scale_by_amount(float source, uint8_t amount)
{
    return (source * static_cast<float>(static_cast<int32_t>(amount) - 64)) / 64.0f;
}

}  // namespace

const uint8_t* patch_of_channel(const SynthEngine& engine, int c)
{
    const uint32_t program = engine.state.channel_controls[c].program;
    return engine.patch_bank + word_from_bytes(engine.patch_bank + 4 * program);
}

void voice_update_params(SynthEngine& engine, int v)
{
    const int32_t c = engine.state.voice_channel[v];
    if (c < 0) return;
    const uint8_t* patch = patch_of_channel(engine, c);
    float* p = engine.state.voice_params[v];
    for (int i = 0; i < kVoiceParamCount; ++i) p[i] = static_cast<float>(patch[kPatchVoiceOffset + i]);

    const VoiceState& voice = engine.state.voices[v];
    const int count = patch[kPatchModCountOffset];
    const uint8_t* entry = patch + kPatchModOffset;
    for (int e = 0; e < count; ++e, entry += kModEntryBytes) {
        const uint8_t source = entry[0];
        const uint8_t amount = entry[1];
        const uint8_t destination = entry[2];
        float s;
        if (source == kModSourceVelocity) {
            s = voice.velocity;
        } else if (source < kModSourceEnvelope1) {
            s = static_cast<float>(engine.state.channel_controls[c].controllers[source - kModSourceController1]);
        } else if (source == kModSourceEnvelope1) {
            s = voice.envelopes[0].out;
        } else if (source == kModSourceEnvelope2) {
            s = voice.envelopes[1].out;
        } else if (source == kModSourceLfo1) {
            s = voice.lfos[0].out;
        } else if (source == kModSourceLfo2) {
            s = voice.lfos[1].out;
        } else {
            s = static_cast<float>((voice.note - 48) * 2);
        }
        s = scale_by_amount(s, amount);
        if (destination >= kModDestChannelFirst) continue;
        p[destination] = clamp_parameter(p[destination] + s);
    }
    voice_convert_params(engine, v);
}

void channel_update_params(SynthEngine& engine, int c)
{
    const uint8_t* patch = patch_of_channel(engine, c);
    float* p = engine.state.channel_params[c];
    for (int i = 0; i < kChannelParamCount; ++i) p[i] = static_cast<float>(patch[kPatchChannelOffset + i]);

    const int count = patch[kPatchModCountOffset];
    const uint8_t* entry = patch + kPatchModOffset;
    for (int e = 0; e < count; ++e, entry += kModEntryBytes) {
        const uint8_t source = entry[0];
        const uint8_t amount = entry[1];
        const uint8_t destination = entry[2];
        if (destination < kModDestChannelFirst || destination >= kModDestinationCount) continue;
        if (source >= kModSourceEnvelope1) continue;
        // A channel has no velocity: source 0 reads 0 here.
        float s = 0.0f;
        if (source != kModSourceVelocity) {
            s = static_cast<float>(engine.state.channel_controls[c].controllers[source - kModSourceController1]);
        }
        s = scale_by_amount(s, amount);
        float& x = p[destination - kModDestChannelFirst];
        x = clamp_parameter(x + s);
    }
    channel_convert_params(engine, c);
}
