#include "synth/patch.h"

#include "synth/engine.h"
#include "synth/units/numeric.h"

namespace {

// amount 0..127 maps to a factor of -1 .. +0.984375.
float scale_by_amount(float source, uint8_t amount)
{
    return (source * static_cast<float>(static_cast<int32_t>(amount) - 64)) / 64.0f;
}

// p[i] = bytes[i] for count >= 16 parameters; one copy of the code for both blocks.
__attribute__((noinline)) void params_from_bytes(float* p, const uint8_t* bytes, int count)
{
#ifdef CANTILENA_HAVE_SSE
    // Sixteen at a time, the last sixteen overlapping those before.
    const __m128i zero = _mm_setzero_si128();
    for (int i = 0; i < count; i += 16) {
        const int k = i + 16 <= count ? i : count - 16;
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k));
        const __m128i low = _mm_unpacklo_epi8(b, zero);
        const __m128i high = _mm_unpackhi_epi8(b, zero);
        _mm_storeu_ps(p + k, _mm_cvtepi32_ps(_mm_unpacklo_epi16(low, zero)));
        _mm_storeu_ps(p + k + 4, _mm_cvtepi32_ps(_mm_unpackhi_epi16(low, zero)));
        _mm_storeu_ps(p + k + 8, _mm_cvtepi32_ps(_mm_unpacklo_epi16(high, zero)));
        _mm_storeu_ps(p + k + 12, _mm_cvtepi32_ps(_mm_unpackhi_epi16(high, zero)));
    }
#else
    for (int i = 0; i < count; ++i) p[i] = static_cast<float>(bytes[i]);
#endif
}

// Bit i set where bytes[i] and last[i] differ (16 <= count <= 64); last then
// holds the bytes.
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

}  // namespace

uint64_t params_take_changes(const float* p, float* last, int count)
{
    uint64_t changes = 0;
#ifdef CANTILENA_HAVE_SSE
    // Eight at a time, the last eight overlapping those before (count >= 8).
    for (int i = 0; i < count; i += 8) {
        const int k = i + 8 <= count ? i : count - 8;
        const __m128i now_low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
        const __m128i now_high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k + 4));
        const __m128i same_low = _mm_cmpeq_epi32(now_low, _mm_loadu_si128(reinterpret_cast<const __m128i*>(last + k)));
        const __m128i same_high =
            _mm_cmpeq_epi32(now_high, _mm_loadu_si128(reinterpret_cast<const __m128i*>(last + k + 4)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(last + k), now_low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(last + k + 4), now_high);
        // One byte a parameter in the low half: all ones where it kept its bits.
        const __m128i same = _mm_packs_epi16(_mm_packs_epi32(same_low, same_high), _mm_setzero_si128());
        changes |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(same)) ^ 0xFFu) << k;
    }
#else
    for (int i = 0; i < count; ++i) {
        if (bits_from_float(p[i]) != bits_from_float(last[i])) changes |= uint64_t{1} << i;
        __builtin_memcpy(last + i, p + i, sizeof(float));
    }
#endif
    return changes;
}

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
    const uint8_t* bytes = patch + kPatchVoiceOffset;
    float* p = engine.state.voice_params[v];
    VoiceState& voice = engine.state.voices[v];

    // A parameter that no modulation entry wrote at the last update and whose
    // byte is unchanged still holds that byte's value: only the others are
    // rebuilt and compared with the last conversion.
    constexpr uint64_t kAllParams = (uint64_t{1} << kVoiceParamCount) - 1u;
    uint64_t refresh = bytes_take_changes(bytes, voice.converted_bytes, kVoiceParamCount) | voice.modulated;
    if (voice.converted == 0) refresh = kAllParams;
    for (uint64_t r = refresh; r != 0; r &= r - 1u) {
        const int i = __builtin_ctzll(r);
        p[i] = static_cast<float>(bytes[i]);
    }

    uint64_t modulated = 0;
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
        modulated |= uint64_t{1} << destination;
    }
    voice.modulated = modulated;

    uint64_t changes = 0;
    for (uint64_t r = refresh | modulated; r != 0; r &= r - 1u) {
        const int i = __builtin_ctzll(r);
        if (bits_from_float(p[i]) != bits_from_float(voice.converted_params[i])) changes |= uint64_t{1} << i;
        voice.converted_params[i] = p[i];
    }
    if (voice.converted == 0) changes = kAllParams;
    voice_convert_params(engine, v, changes);
}

void channel_update_params(SynthEngine& engine, int c)
{
    const uint8_t* patch = patch_of_channel(engine, c);
    float* p = engine.state.channel_params[c];
    params_from_bytes(p, patch + kPatchChannelOffset, kChannelParamCount);

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
