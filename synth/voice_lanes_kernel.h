// The voice path with one voice per lane: oscillators, the two filters in
// their routing, the distortion unit and the amplitude ramp, for up to W
// voices at once. Each lane repeats the scalar units' operations in their
// order, so a voice sounds the same bits in any lane, at any width, as on
// the scalar path.
//
// Per block the voices' states are gathered into lanes, run and scattered
// back. Where voices differ in a unit's mode, that mode's loop runs for the
// lanes that have it while the others keep their values; filter responses
// and the routing are chosen lane by lane within one loop.
//
// Included once per instruction set (voice_lanes_<width>.cpp); everything
// has internal linkage.
#pragma once

#include "synth/engine.h"
#include "synth/lanes.h"
#include "synth/units/numeric_constants.h"
#include "synth/voice_lanes.h"

namespace {

// Each unit's pass is kept out of line: the passes run once per block, and
// inlining them into one body would repeat them per oscillator slot.
// kCompact: the distortion's filters run the scalar unit lane by lane, for a
// build that must stay small. Phase modulation stays in lanes there too: the
// embedded song leans on it, and its pass costs the player under 2 KB.
template <int W, bool kCompact>
struct VoiceKernel {
    using L = Lanes<W>;
    using F = typename L::F;
    using I = typename L::I;
    using U = typename L::U;
    using D = typename L::D;

    VoiceState* voices[W];  // lanes past the count repeat the last voice
    I spread;               // bytes from the first lane's voice to each lane's (one array holds them)
    int count;
    int n;
    float* work;   // n vectors of W lanes: sample i of lane l at work[i * W + l]
    float* spare;  // n samples of one lane

    // Calls step(frame) on each of the n frames of W lanes, with the work
    // pointer and the count in locals: a store to the work memory could
    // otherwise be taken to change them, and they would be read again.
    template <typename Step>
    void each_frame(Step step) const
    {
        float* const end = work + n * W;
        for (float* frame = work; frame != end; frame += W) step(frame);
    }

    // Runs a scalar unit, unit(samples), on lane l's n samples in place.
    template <typename Unit>
    void run_scalar(int l, Unit unit) const
    {
        for (int i = 0; i < n; ++i) spare[i] = work[i * W + l];
        unit(spare);
        for (int i = 0; i < n; ++i) work[i * W + l] = spare[i];
    }

    // The 32-bit word at offset in each lane's voice: one gather instruction
    // where the instruction set has it.
    __attribute__((noinline)) U gather_at(size_t offset) const
    {
        const char* first = reinterpret_cast<const char*>(voices[0]) + offset;
#if defined(__AVX512F__)
        if constexpr (W == 16) {
            const __m512i index = __builtin_bit_cast(__m512i, spread);
            return __builtin_bit_cast(U, _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), 0xFFFF, index, first, 1));
        }
#endif
#if defined(__AVX2__)
        if constexpr (W == 8) {
            return __builtin_bit_cast(
                U, _mm256_i32gather_epi32(reinterpret_cast<const int*>(first), __builtin_bit_cast(__m256i, spread), 1));
        }
#endif
        U v;
        for (int l = 0; l < W; ++l) {
            uint32_t word;
            __builtin_memcpy(&word, first + spread[l], sizeof word);
            v[l] = word;
        }
        return v;
    }
    // The 32-bit field that field(voice) refers to, from each lane's voice.
    template <typename V, typename Field>
    V gather(Field field) const
    {
        const char* first = reinterpret_cast<const char*>(voices[0]);
        const size_t offset = static_cast<size_t>(reinterpret_cast<const char*>(&field(*voices[0])) - first);
        return __builtin_bit_cast(V, gather_at(offset));
    }
    template <typename Field>
    F gather_f(Field field) const
    {
        return gather<F>(field);
    }
    template <typename Field>
    I gather_i(Field field) const
    {
        return gather<I>(field);
    }
    template <typename Field>
    U gather_u(Field field) const
    {
        return gather<U>(field);
    }

    // Bit m set for each value m in 0..30 that one of the voices has; bit 31
    // for any other value.
    uint32_t present(I mode) const
    {
        uint32_t bits = 0;
        for (int l = 0; l < count; ++l) {
            const uint32_t m = static_cast<uint32_t>(mode[l]);
            bits |= 1u << (m < 31u ? m : 31u);
        }
        return bits;
    }

    // 1 + z^2 (c3 + z^2 (c5 + z^2 c7)) in double.
    static D sine_factor(D z)
    {
        const D z2 = z * z;
        return 1.0 + z2 * (kSineC3 + z2 * (kSineC5 + z2 * kSineC7));
    }

    // x mod 2 pi with the sign of x, exactly as fmodf: the remainder of |x|
    // takes x's sign bit (a zero remainder too). For |x| < 2^28 the truncated
    // quotient of |x| (the product with the rounded reciprocal of 2 pi) is
    // the true one except where |x| is a whole multiple of 2 pi, 2^j 2 pi,
    // and the quotient falls one short, leaving exactly 2 pi: the remainder r
    // is exact in double and lies in [0, 2 pi], as a check of every float
    // below 2^28 confirms. Other lanes (huge, infinite, NaN) take fmodf itself.
    static F fmod_two_pi(F x)
    {
        constexpr double y = kTwoPi;
        constexpr double inverse = 1.0 / y;
        const U sign = L::as_bits(x) & 0x80000000u;
        const F magnitude = L::as_float(L::as_bits(x) ^ sign);
        const D a = L::widen(magnitude);
        const D q = __builtin_convertvector(__builtin_convertvector(a * inverse, I), D);
        const F r = L::narrow(a - (q * y));
        const U whole = L::as_unsigned(r == kTwoPi);
        const F out = L::as_float((L::as_bits(r) & ~whole) | sign);
        const I outside = L::as_signed(L::as_bits(magnitude)) >= 0x4D800000;  // 2^28, infinite or NaN
        return L::any(outside) ? fmod_lanes(x, outside, out) : out;
    }

    __attribute__((noinline)) static F fmod_lanes(F x, I outside, F out)
    {
        for (int l = 0; l < W; ++l) {
            if (outside[l]) out[l] = __builtin_fmodf(x[l], kTwoPi);
        }
        return out;
    }

    static F fast_sine(F x)
    {
        const F r = fmod_two_pi(x);
        const F z = L::select(r <= kPiOver2, r, L::select(r <= kThreePiOver2, kPi - r, r - kTwoPi));
        const D zd = L::widen(z);
        return L::narrow(zd * sine_factor(zd));
    }

    static void combine(float* frame, I mine, I ring, F v)
    {
        const F x = L::load(frame);
        L::store(frame, L::select(mine, L::select(ring, x * v, x + v), x));
    }

    // Where a sample's phase step lies (the scalar oscillator's 3-bit code as
    // masks): below, the phase is under the threshold (bit 0); before, the
    // previous phase was (bit 2); wrapped, the step passed the cycle end
    // (bit 1). Unsigned comparisons are made signed by offsetting both sides
    // by 2^31.
    struct Sweep {
        I below, before, wrapped;

        // A step across an edge or the cycle end (codes 2, 3, 4, 7); the
        // others (0, 1, 5, 6) stay inside one part of the wave.
        I across() const { return wrapped ^ (before & ~below); }
    };

    static I signed_order(U u) { return L::as_signed(u ^ 0x80000000u); }

    // The loop shared by ramp and pulse: inside(sweep, phase) gives a sample
    // that stays within one part of the wave, edge(sweep, phase) one swept
    // across an edge or the cycle end (computed only when a lane has one).
    template <typename Inside, typename Edge>
    U box_averaged(I mine, I ring, U phase, U increment, U threshold, Inside inside, Edge edge) const
    {
        const I increment_order = signed_order(increment);
        const I threshold_order = signed_order(threshold);
        Sweep sweep;
        sweep.before = signed_order(phase - increment) < threshold_order;
        each_frame([&](float* frame) {
            const I now = signed_order(phase);
            sweep.below = now < threshold_order;
            sweep.wrapped = now < increment_order;
            F v = inside(sweep, phase);
            const I across = sweep.across();
            if (L::any(across)) v = L::select(across, edge(sweep, phase), v);
            combine(frame, mine, ring, v);
            sweep.before = sweep.below;
            phase += increment;
        });
        return phase;
    }

    __attribute__((noinline)) U ramp(I mine, I ring, U phase, U increment, U threshold, F g) const
    {
        const F k = L::unit_from_bits(threshold);
        const F d = L::unit_from_bits(increment);
        const F a = -g / (1.0f - k);
        const F b = L::select(k != 0.0f, g / k, L::splat(0.0f));
        const F r = 1.0f / d;
        // phi and k are multiples of 2^-23 in [0, 1), so 1 + k, x = phi - k and
        // 2 x = (2 + 2 phi) - (2 + 2 k) are exact.
        const F one_plus_k = 1.0f + k;
        const F two_plus_two_k = 2.0f * one_plus_k;
        const auto inside = [&](const Sweep& s, U phase_now) {
            const F two_x = L::twice_one_plus_unit_from_bits(phase_now) - two_plus_two_k;
            return g + (L::select(s.below, b, a) * (two_x - d));
        };
        const auto edge = [&](const Sweep& s, U phase_now) {
            const F x = L::one_plus_unit_from_bits(phase_now) - one_plus_k;
            const F two_x = 2.0f * x;
            const F peak = g + (r * ((a * (x * x)) - (b * ((x - d) * (x - d)))));
            const F e = (1.0f + x) - d;
            const F cycle_end = g - (r * ((g + (a * (e * e))) - (b * (x * x))));
            const F t = ((two_x + 1.0f) - d);
            const F whole_rise = g - (r * (g + ((a * (1.0f - d)) * t)));
            const F both = g - (r * (g + ((b * (1.0f - d)) * t)));
            const F wrapped = L::select(s.below, L::select(s.before, both, cycle_end), whole_rise);
            return L::select(s.wrapped, wrapped, peak);
        };
        return box_averaged(mine, ring, phase, increment, threshold, inside, edge);
    }

    __attribute__((noinline)) U pulse(I mine, I ring, U phase, U increment, U threshold, F g) const
    {
        const F k = L::unit_from_bits(threshold);
        const F d = L::unit_from_bits(increment);
        const F big_g = g / d;
        const F high = g;
        const F low = -g;
        const F both = g - ((2.0f * (1.0f - k)) * big_g);
        const F whole_high = ((2.0f * k) * big_g) - g;
        const auto inside = [&](const Sweep& s, U) { return L::select(s.below, high, low); };
        const auto edge = [&](const Sweep& s, U phase_now) {
            const F phi = L::unit_from_bits(phase_now);
            const F rising = ((2.0f * phi) * big_g) - g;
            const F falling = g + ((2.0f * (k - phi)) * big_g);
            const F wrapped = L::select(s.below, L::select(s.before, both, rising), whole_high);
            return L::select(s.wrapped, wrapped, falling);
        };
        return box_averaged(mine, ring, phase, increment, threshold, inside, edge);
    }

    __attribute__((noinline)) U sine(I mine, I ring, U phase, U increment, F g) const
    {
        constexpr uint32_t kQuarter = 0x40000000u;  // a quarter cycle
        U ahead = phase + kQuarter;
        each_frame([&](float* frame) {
            I t = L::as_signed(ahead);
            t = t ^ (t >> 31);  // ~t where negative
            const F y = L::as_float(0x3F800000u | (L::as_unsigned(t) >> 8));
            const F x = (y * kPi) - kThreePiOver2;
            const F v = L::narrow(L::widen(g * x) * sine_factor(L::widen(x)));
            combine(frame, mine, ring, v);
            ahead += increment;
        });
        return ahead - kQuarter;
    }

    __attribute__((noinline)) void noise(I mine, I ring, U& seed, F& low, F& band, F f, F q, F g) const
    {
        U s_seed = seed;
        F s_low = low;
        F s_band = band;
        each_frame([&](float* frame) {
            s_seed = (s_seed * kRandomMultiplier) + kRandomIncrement;
            const F s = L::signed_from_bits(s_seed);
            s_low = s_low + (f * s_band);
            const F high = (s - (q * s_band)) - s_low;
            s_band = s_band + (f * high);
            const F v = g * ((q * (high + s_low)) + s_band);
            combine(frame, mine, ring, v);
        });
        seed = L::select(mine, s_seed, seed);
        low = L::select(mine, s_low, low);
        band = L::select(mine, s_band, band);
    }

    __attribute__((noinline)) U phase_mod(I mine, I ring, U phase, U increment, F g) const
    {
        each_frame([&](float* frame) {
            const F m = L::load(frame);
            const F phi1 = L::one_plus_unit_from_bits(phase);
            const F v = g * fast_sine(kTwoPi * ((2.0f * m) + phi1));
            L::store(frame, L::select(mine, L::select(ring, v * m, v), m));
            phase += increment;
        });
        return phase;
    }

    __attribute__((noinline)) void oscillator(int k)
    {
        const I mode = (gather_i([k](VoiceState & v) -> auto& { return v.oscillators[k].mode; }) & 7);
        const uint32_t modes = present(mode);
        if ((modes & ((1u << kOscillatorRamp) | (1u << kOscillatorPulse) | (1u << kOscillatorSine) |
                      (1u << kOscillatorNoise) | (1u << kOscillatorPhaseMod))) == 0) {
            return;
        }
        const I ring = (gather_i([k](VoiceState & v) -> auto& { return v.oscillators[k].ring; }) & 1) != 0;
        const U start = gather_u([k](VoiceState & v) -> auto& { return v.oscillators[k].phase; });
        const U increment = gather_u([k](VoiceState & v) -> auto& { return v.oscillators[k].increment; });
        const U threshold = gather_u([k](VoiceState & v) -> auto& { return v.oscillators[k].threshold; });
        const F g = gather_f([k](VoiceState & v) -> auto& { return v.oscillators[k].gain; });
        U phase = start;
        if (modes & (1u << kOscillatorRamp)) {
            const I mine = mode == int32_t{kOscillatorRamp};
            phase = L::select(mine, ramp(mine, ring, start, increment, threshold, g), phase);
        }
        if (modes & (1u << kOscillatorPulse)) {
            const I mine = mode == int32_t{kOscillatorPulse};
            phase = L::select(mine, pulse(mine, ring, start, increment, threshold, g), phase);
        }
        if (modes & (1u << kOscillatorSine)) {
            const I mine = mode == int32_t{kOscillatorSine};
            phase = L::select(mine, sine(mine, ring, start, increment, g), phase);
        }
        if (modes & (1u << kOscillatorPhaseMod)) {
            const I mine = mode == int32_t{kOscillatorPhaseMod};
            phase = L::select(mine, phase_mod(mine, ring, start, increment, g), phase);
        }
        if (modes & (1u << kOscillatorNoise)) {
            const I mine = mode == int32_t{kOscillatorNoise};
            U seed = gather_u([k](VoiceState & v) -> auto& { return v.oscillators[k].noise_seed; });
            F low = gather_f([k](VoiceState & v) -> auto& { return v.oscillators[k].noise_low; });
            F band = gather_f([k](VoiceState & v) -> auto& { return v.oscillators[k].noise_band; });
            const F f = gather_f([k](VoiceState & v) -> auto& { return v.oscillators[k].noise_cutoff; });
            const F q = gather_f([k](VoiceState & v) -> auto& { return v.oscillators[k].noise_damping; });
            noise(mine, ring, seed, low, band, f, q, g);
            for (int l = 0; l < count; ++l) {
                OscillatorState& osc = voices[l]->oscillators[k];
                osc.noise_seed = seed[l];
                osc.noise_low = low[l];
                osc.noise_band = band[l];
            }
        }
        for (int l = 0; l < count; ++l) voices[l]->oscillators[k].phase = phase[l];
    }

    // The state-variable filter of a lane set: two passes per sample on the
    // same input, the response chosen per lane; lanes without a response
    // (0, 6, 7) pass the input.
    struct FilterLanes {
        I response;
        F f, q, low, band;

        F step(F s)
        {
            F l = low + (f * band);
            F high = (s - (q * band)) - l;
            F b = band + (f * high);
            l = l + (f * b);
            high = (s - (q * b)) - l;
            b = b + (f * high);
            low = l;
            band = b;
            F v = L::select(response == int32_t{kFilterAll}, (high + b) + l, s);
            v = L::select(response == int32_t{kFilterNotch}, high + l, v);
            v = L::select(response == int32_t{kFilterHighPass}, high, v);
            v = L::select(response == int32_t{kFilterBandPass}, b, v);
            return L::select(response == int32_t{kFilterLowPass}, l, v);
        }
        I active() const { return (response >= int32_t{kFilterLowPass}) & (response <= int32_t{kFilterAll}); }
    };

    template <typename Get>
    FilterLanes filter_lanes(Get get) const
    {
        return {(gather_i([&](VoiceState & v) -> auto& { return get(v).mode; }) & 7),
                gather_f([&](VoiceState & v) -> auto& { return get(v).cutoff; }),
                gather_f([&](VoiceState & v) -> auto& { return get(v).damping; }),
                gather_f([&](VoiceState & v) -> auto& { return get(v).low; }),
                gather_f([&](VoiceState & v) -> auto& { return get(v).band; })};
    }

    // Keeps the new state of the lanes in use, the old one elsewhere.
    template <typename Get>
    void filter_scatter(const FilterLanes& after, I used, Get get) const
    {
        for (int l = 0; l < count; ++l) {
            if (!used[l]) continue;
            FilterState& filter = get(*voices[l]);
            filter.low = after.low[l];
            filter.band = after.band[l];
        }
    }

    __attribute__((noinline)) void filters()
    {
        const auto first = [](VoiceState& v) -> FilterState& { return v.filters[0]; };
        const auto second = [](VoiceState& v) -> FilterState& { return v.filters[1]; };
        FilterLanes f1 = filter_lanes(first);
        FilterLanes f2 = filter_lanes(second);
        const I routing = gather_i([](VoiceState & v) -> auto& { return v.routing; });
        const I parallel = routing == int32_t{kRoutingParallel};
        const I only_first = routing == int32_t{kRoutingFilter1};
        const F gain1 = gather_f([](VoiceState & v) -> auto& { return v.filter1_gain; });
        const F gain2 = gather_f([](VoiceState & v) -> auto& { return v.filter2_gain; });
        const I used1 = f1.active();
        const I used2 = f2.active() & ~only_first;
        // Parallel routing mixes the two paths even where both filters pass.
        const bool second_path = L::any(used2) || L::any(parallel);
        if (!L::any(used1) && !second_path) return;
        if (second_path) {
            each_frame([&](float* frame) {
                const F x = L::load(frame);
                const F y1 = f1.step(x);
                const F y2 = f2.step(L::select(parallel, x, y1));
                L::store(frame, L::select(parallel, (y1 * gain1) + (y2 * gain2), L::select(only_first, y1, y2)));
            });
        } else {
            each_frame([&](float* frame) { L::store(frame, f1.step(L::load(frame))); });
        }
        filter_scatter(f1, used1, first);
        filter_scatter(f2, used2, second);
    }

    __attribute__((noinline)) void distortion()
    {
        const I mode = gather_i([](VoiceState & v) -> auto& { return v.distortion.mode; });
        const uint32_t modes = present(mode);
        const F drive = gather_f([](VoiceState & v) -> auto& { return v.distortion.drive; });
        if (modes & ((1u << kDistortionOverdrive) | (1u << kDistortionClip))) {
            const F bias = gather_f([](VoiceState & v) -> auto& { return v.distortion.bias; });
            const F gain = gather_f([](VoiceState & v) -> auto& { return v.distortion.output_gain; });
            const I overdrive = mode == int32_t{kDistortionOverdrive};
            const I clip = mode == int32_t{kDistortionClip};
            each_frame([&](float* frame) {
                const F x = L::load(frame);
                const F driven = (x * drive) + bias;
                F out = x;
                if (modes & (1u << kDistortionOverdrive)) out = L::select(overdrive, L::atan_shaper(driven) * gain, out);
                if (modes & (1u << kDistortionClip)) {
                    F c = L::select(driven < -1.0f, L::splat(-1.0f), driven);
                    c = L::select(c > 1.0f, L::splat(1.0f), c);
                    out = L::select(clip, c * gain, out);
                }
                L::store(frame, out);
            });
        }
        // The crusher and the rate reducer are rare: their lanes run the scalar
        // unit, one voice at a time (in a compact build the filters too).
        for (int l = 0; l < count; ++l) {
            const int32_t m = mode[l];
            const bool filter = m >= kDistortionLowPass && m <= kDistortionAllPass;
            if (m != kDistortionBitCrusher && m != kDistortionRateReducer && !(kCompact && filter)) continue;
            DistortionUnit& unit = voices[l]->distortion;
            run_scalar(l, [&](float* samples) { distortion_render_mono(unit, samples, samples, n); });
        }
        constexpr uint32_t kFilterModes = (1u << kDistortionLowPass) | (1u << kDistortionBandPass) |
                                          (1u << kDistortionHighPass) | (1u << kDistortionNotch) |
                                          (1u << kDistortionAllPass);
        if ((modes & kFilterModes) && !kCompact) {
            const I mine = (mode >= int32_t{kDistortionLowPass}) & (mode <= int32_t{kDistortionAllPass});
            const auto unit = [](VoiceState& v) -> FilterState& { return v.distortion.filter_a; };
            FilterLanes f = filter_lanes(unit);
            each_frame([&](float* frame) {
                const F x = L::load(frame);
                L::store(frame, L::select(mine, f.step(x), x));
            });
            filter_scatter(f, mine, unit);
        }
    }

    // The amplitude ramp into each lane's voice block, W samples at a time
    // turned from lanes into blocks; the work memory is left zero.
    __attribute__((noinline)) void amplitude(float* const* outputs)
    {
        F amp = gather_f([](VoiceState & v) -> auto& { return v.amplitude; });
        const F step = gather_f([](VoiceState & v) -> auto& { return v.amplitude_step; });
        const int frames = n;
        float* frame = work;
        int i = 0;
        for (; i + W <= frames; i += W) {
            F rows[W];
#pragma GCC unroll 16
            for (int j = 0; j < W; ++j, frame += W) {
                rows[j] = L::load(frame) * amp;
                amp = amp + step;
                L::store(frame, F{});
            }
            L::transpose(rows);
#pragma GCC unroll 16
            for (int l = 0; l < W; ++l) L::store(outputs[l] + i, rows[l]);
        }
        for (; i < frames; ++i, frame += W) {
            const F v = L::load(frame) * amp;
            amp = amp + step;
            L::store(frame, F{});
            for (int l = 0; l < W; ++l) outputs[l][i] = v[l];
        }
        for (int l = 0; l < count; ++l) voices[l]->amplitude = amp[l];
    }
};

template <int W, bool kCompact = false>
void voice_lanes_render(SynthEngine& engine, const int* voice_ids, int count, int n, VoiceLaneScratch& scratch)
{
    VoiceKernel<W, kCompact> kernel;
    // Lanes past the count write their blocks to the spare lane.
    float* outputs[W];
    for (int l = 0; l < W; ++l) {
        const int v = voice_ids[l < count ? l : count - 1];
        kernel.voices[l] = &engine.state.voices[v];
        outputs[l] = l < count ? engine.buffers.voice_out[v] : scratch.lane;
    }
    for (int l = 0; l < W; ++l) {
        kernel.spread[l] = static_cast<int32_t>(reinterpret_cast<const char*>(kernel.voices[l]) -
                                                reinterpret_cast<const char*>(kernel.voices[0]));
    }
    kernel.count = count;
    kernel.n = n;
    kernel.work = scratch.work;
    kernel.spare = scratch.lane;
    const int used = n * W;
    if (scratch.zeroed < used) {
        __builtin_memset(scratch.work + scratch.zeroed, 0, sizeof(float) * static_cast<size_t>(used - scratch.zeroed));
        scratch.zeroed = used;
    }
    for (int k = 0; k < kOscillatorsPerVoice; ++k) kernel.oscillator(k);
    kernel.filters();
    kernel.distortion();
    kernel.amplitude(outputs);
}

}  // namespace
