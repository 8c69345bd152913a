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

uint64_t bytes_take_changes(const uint8_t* bytes, uint8_t* last, int count)
{
    uint64_t changes = 0;
#ifdef CANTILENA_HAVE_SSE
    // Sixteen at a time, the last sixteen overlapping those before.
    for (int i = 0; i < count; i += 16) {
        const int k = i + 16 <= count ? i : count - 16;
        const __m128i now = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k));
        const __m128i same = _mm_cmpeq_epi8(now, _mm_loadu_si128(reinterpret_cast<const __m128i*>(last + k)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(last + k), now);
        changes |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(same)) ^ 0xFFFFu) << k;
    }
#else
    for (int i = 0; i < count; ++i) {
        if (bytes[i] != last[i]) changes |= uint64_t{1} << i;
        last[i] = bytes[i];
    }
#endif
    return changes;
}

uint64_t params_take_changes(const float* p, float* last, uint64_t candidates)
{
    uint64_t changes = 0;
    for (; candidates != 0; candidates &= candidates - 1u) {
        const int i = __builtin_ctzll(candidates);
        if (bits_from_float(p[i]) != bits_from_float(last[i])) changes |= uint64_t{1} << i;
        last[i] = p[i];
    }
    return changes;
}

namespace {

// A parameter that no modulation entry wrote at the last rebuild and whose
// byte is unchanged still holds that byte's value: only the others (those
// whose byte differs from last_bytes, and those in stale) are reset to their
// bytes; returns them.
template <int kCount>
uint64_t params_refresh(float* p, const uint8_t* bytes, uint8_t* last_bytes, uint64_t stale)
{
    uint64_t refresh = stale;
    if (bytes_differ<kCount>(bytes, last_bytes)) refresh |= bytes_take_changes(bytes, last_bytes, kCount);
    for (uint64_t r = refresh; r != 0; r &= r - 1u) {
        const int i = __builtin_ctzll(r);
        p[i] = static_cast<float>(bytes[i]);
    }
    return refresh;
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
    VoiceState& voice = engine.state.voices[v];
    constexpr uint64_t kAllParams = (uint64_t{1} << kVoiceParamCount) - 1u;
    const uint64_t refresh = params_refresh<kVoiceParamCount>(p, patch + kPatchVoiceOffset, voice.converted_bytes,
                                                              voice.converted != 0 ? voice.modulated : kAllParams);

    uint64_t modulated = 0;
    const int count = patch[kPatchModCountOffset];
    const uint8_t* entry = patch + kPatchModOffset;
    for (int e = 0; e < count; ++e, entry += kModEntryBytes) {
        const uint8_t source = entry[0];
        const uint8_t amount = entry[1];
        const uint8_t destination = entry[2];
        if (destination >= kModDestChannelFirst) continue;
        float s;
        switch (source) {
        case kModSourceVelocity:
            s = voice.velocity;
            break;
        case kModSourceEnvelope1:
            s = voice.envelopes[0].out;
            break;
        case kModSourceEnvelope2:
            s = voice.envelopes[1].out;
            break;
        case kModSourceLfo1:
            s = voice.lfos[0].out;
            break;
        case kModSourceLfo2:
            s = voice.lfos[1].out;
            break;
        default:
            if (source < kModSourceEnvelope1) {
                s = static_cast<float>(engine.state.channel_controls[c].controllers[source - kModSourceController1]);
            } else {
                s = static_cast<float>((voice.note - 48) * 2);
            }
            break;
        }
        s = scale_by_amount(s, amount);
        p[destination] = clamp_parameter(p[destination] + s);
        modulated |= uint64_t{1} << destination;
    }
    voice.modulated = modulated;

    uint64_t changes = params_take_changes(p, voice.converted_params, refresh | modulated);
    if (voice.converted == 0) changes = kAllParams;
    // The same bits and the same note leave every unit as it is.
    if (changes != 0 || voice.converted_note != voice.note) voice_convert_params(engine, v, changes);
}

void channel_update_params(SynthEngine& engine, int c)
{
    const uint8_t* patch = patch_of_channel(engine, c);
    float* p = engine.state.channel_params[c];
    ChannelState& channel = engine.state.channels[c];
    constexpr uint64_t kAllParams = (uint64_t{1} << kChannelParamCount) - 1u;
    const uint64_t refresh =
        params_refresh<kChannelParamCount>(p, patch + kPatchChannelOffset, channel.converted_bytes,
                                           channel.converted != 0 ? channel.modulated : kAllParams);

    uint64_t modulated = 0;
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
        modulated |= uint64_t{1} << (destination - kModDestChannelFirst);
    }
    channel.modulated = modulated;
    // The coefficients follow from the parameters alone: the same bits as at
    // the last conversion leave them as they are.
    if (params_take_changes(p, channel.converted_params, refresh | modulated) != 0 || channel.converted == 0)
        channel_convert_params(engine, c);
}
