#include <cstring>

#include "synth/engine.h"
#include "synth/fp_mode.h"
#include "synth/units/numeric.h"

namespace {

// One-pole low cut, then a one-pole high cut that a coefficient of exactly
// 1.0 bypasses; both sides side by side in two lanes (left, right). The low
// cut's output uses the state before its update.
void master_cut_render(MasterCutFilter& cut, float* frames, int32_t n)
{
    typedef float Pair __attribute__((vector_size(8)));
    const float k1 = cut.low_coefficient;
    const float k2 = cut.high_coefficient;
    Pair low = {cut.low_left, cut.low_right};
    Pair high = {cut.high_left, cut.high_right};
    const auto frame = [&](int32_t i) {
        Pair x;
        std::memcpy(&x, frames + 2 * i, sizeof x);
        const Pair h = x - low;
        low = low + (h * k1);
        return h;
    };
    if (k2 == 1.0f) {
        for (int32_t i = 0; i < n; ++i) {
            const Pair h = frame(i);
            std::memcpy(frames + 2 * i, &h, sizeof h);
        }
    } else {
        for (int32_t i = 0; i < n; ++i) {
            high = high + ((frame(i) - high) * k2);
            std::memcpy(frames + 2 * i, &high, sizeof high);
        }
    }
    cut.low_left = low[0];
    cut.low_right = low[1];
    cut.high_left = high[0];
    cut.high_right = high[1];
}

// (p + 1) / 128, squared: 1/16384 at 0, exactly 1 at 127.
float cut_coefficient(float p)
{
    const float t = (clamp_parameter(p) + 1.0f) / 128.0f;
    return t * t;
}

// Every unit whose output became non-finite in the last block starts afresh,
// here on the thread that starts blocks (a voice reset reads the seed source,
// voices in order); a cleared voice is freed.
void clear_faulty_units(SynthEngine& engine)
{
    SynthState& state = engine.state;
    for (int v = 0; v < kVoiceCount; ++v) {
        if (state.faulty_voices[v] == 0) continue;
        voice_clear(engine, v);
        state.voice_channel[v] = -1;
        state.faulty_voices[v] = 0;
    }
    for (int c = 0; c < kChannelCount; ++c) {
        if (state.faulty_channels[c] == 0) continue;
        channel_clear(engine, c);
        state.faulty_channels[c] = 0;
    }
    if (state.faulty_master & kMasterReverb) reverb_clear(state.reverb);
    if (state.faulty_master & kMasterDelay) delay_reset(state.global_delay);
    if (state.faulty_master & kMasterDynamics) {
        MasterCutFilter& cut = state.master_cut;
        cut.low_left = cut.low_right = cut.high_left = cut.high_right = 0.0f;
        dynamics_clear(state.master_dynamics);
    }
    state.faulty_master = 0;
}

void start_block(SynthEngine& engine)
{
    clear_faulty_units(engine);
    speech_tick(engine.speech);
    engine.state.frames_left = engine.rates.block_size;
    block_mix(engine, engine.rates.block_size);
}

// The channels each rendering thread takes this block, and their voices in
// voice order: a thread reads and writes only its own voices' entries.
struct BlockJobs {
    SynthEngine* engine;
    int32_t n;
    int32_t channel_count[kMaxRenderThreads];
    int8_t channels[kMaxRenderThreads][kChannelCount];
    int32_t voice_count[kMaxRenderThreads];
    int8_t voices[kMaxRenderThreads][kVoiceCount];
};

// What decides a voice's control flow in lanes: voices that share it share
// one pass of each unit. Bits 3k..3k+2 hold oscillator k's mode.
uint32_t lane_signature(const VoiceState& voice)
{
    const uint32_t distortion = static_cast<uint32_t>(voice.distortion.mode) & 0xFFu;
    return (static_cast<uint32_t>(voice.oscillators[0].mode) & 7u) |
           ((static_cast<uint32_t>(voice.oscillators[1].mode) & 7u) << 3) |
           ((static_cast<uint32_t>(voice.oscillators[2].mode) & 7u) << 6) | (distortion << 9);
}

// What one pass of an oscillator mode costs a group in lanes, in
// instructions a frame (measured on the 8-lane path); a group runs each mode
// that one of its voices has in a slot once for all its lanes.
constexpr int32_t oscillator_pass_cost(uint32_t mode)
{
    switch (mode) {
        case kOscillatorRamp: return 37;
        case kOscillatorPulse: return 25;
        case kOscillatorSine: return 42;
        case kOscillatorNoise: return 25;
        case kOscillatorPhaseMod: return 80;
        default: return 0;
    }
}

// A group of voices being packed: its voices, and per oscillator slot a bit
// for each mode they run there.
struct LaneGroup {
    int count;
    uint32_t modes[kOscillatorsPerVoice];
    int voices[kMaxLanes];
};

// The passes a voice with this signature adds to the group.
int32_t lane_group_added_cost(const LaneGroup& group, uint32_t signature)
{
    int32_t cost = 0;
    for (int k = 0; k < kOscillatorsPerVoice; ++k) {
        const uint32_t mode = (signature >> (3 * k)) & 7u;
        if (((group.modes[k] >> mode) & 1u) == 0) cost += oscillator_pass_cost(mode);
    }
    return cost;
}

void lane_group_add(LaneGroup& group, const int* voices, int count, uint32_t signature)
{
    for (int k = 0; k < kOscillatorsPerVoice; ++k) group.modes[k] |= 1u << ((signature >> (3 * k)) & 7u);
    for (int k = 0; k < count; ++k) group.voices[group.count++] = voices[k];
}

// Renders 1..lane_width voices in the narrowest lanes that hold them.
void render_lane_group(SynthEngine& engine, const int* voices, int count, int32_t n, RenderScratch& scratch)
{
    int k = 0;
    while (k + 1 < kLaneWidthCount && (kLaneWidths[k] < count || engine.voice_lanes[k] == nullptr)) ++k;
    engine.voice_lanes[k](engine, voices, count, n, scratch.lanes);
}

// Renders the voices, in lanes when a width is chosen; each voice's block
// lands in its voice_out whatever the lane or the order, so the voices are
// grouped for the fewest passes: a whole group of one signature wherever
// there are enough of them; the rest packed into as few groups as hold
// them, the most numerous signature first, each into the group where it
// adds the cheapest passes (split over the emptiest groups where no group
// has room for all of it).
void render_voices(SynthEngine& engine, int* voices, int count, int32_t n, RenderScratch& scratch)
{
    if (engine.lane_width <= 1) {
        for (int k = 0; k < count; ++k) voice_render(engine, voices[k], n, scratch);
        return;
    }
    // Like voices side by side (insertion sort: at most 32 of them).
    uint32_t keys[kVoiceCount];
    for (int k = 0; k < count; ++k) keys[k] = lane_signature(engine.state.voices[voices[k]]);
    for (int k = 1; k < count; ++k) {
        const uint32_t key = keys[k];
        const int voice = voices[k];
        int j = k;
        for (; j > 0 && keys[j - 1] > key; --j) {
            keys[j] = keys[j - 1];
            voices[j] = voices[j - 1];
        }
        keys[j] = key;
        voices[j] = voice;
    }
    const int width = engine.lane_width;
    int run_first[kVoiceCount];  // the rest of each signature, most numerous first
    int run_size[kVoiceCount];
    int runs = 0;
    int rest = 0;
    for (int first = 0; first < count;) {
        int end = first + 1;
        while (end < count && keys[end] == keys[first]) ++end;
        for (; end - first >= width; first += width) render_lane_group(engine, voices + first, width, n, scratch);
        if (first < end) {
            const int size = end - first;
            int j = runs++;
            for (; j > 0 && run_size[j - 1] < size; --j) {
                run_first[j] = run_first[j - 1];
                run_size[j] = run_size[j - 1];
            }
            run_first[j] = first;
            run_size[j] = size;
            rest += size;
        }
        first = end;
    }
    LaneGroup groups[kVoiceCount / kLaneWidths[0]];
    const int group_count = (rest + width - 1) / width;
    for (int g = 0; g < group_count; ++g) groups[g] = LaneGroup{};
    for (int r = 0; r < runs; ++r) {
        const uint32_t signature = keys[run_first[r]];
        const int* run = voices + run_first[r];
        int left = run_size[r];
        while (left > 0) {
            int best = -1;
            int32_t best_cost = 0;
            for (int g = 0; g < group_count; ++g) {
                if (width - groups[g].count < left) continue;
                const int32_t cost = lane_group_added_cost(groups[g], signature);
                if (best < 0 || cost < best_cost) {
                    best = g;
                    best_cost = cost;
                }
            }
            if (best < 0) {
                best = 0;
                for (int g = 1; g < group_count; ++g) {
                    if (groups[g].count < groups[best].count) best = g;
                }
            }
            const int room = width - groups[best].count;
            const int taken = left < room ? left : room;
            lane_group_add(groups[best], run, taken, signature);
            run += taken;
            left -= taken;
        }
    }
    for (int g = 0; g < group_count; ++g) {
        if (groups[g].count > 0) render_lane_group(engine, groups[g].voices, groups[g].count, n, scratch);
    }
}

// One thread's share of a block: its voices' and channels' set-up (each
// reads only its own state and its channel's controls and patch), its voices
// that sound on, then each channel with a voice left: its voices summed in
// voice order, the speech, and the chain.
void render_channels(SynthEngine& engine, const int8_t* channels, int count, const int8_t* voices, int voice_count,
                     int32_t n, RenderScratch& scratch)
{
    int sounding[kVoiceCount];
    int sounding_count = 0;
    uint32_t busy = 0;
    for (int k = 0; k < voice_count; ++k) {
        const int v = voices[k];
        voice_update_params(engine, v);
        voice_tick(engine, v);
        if (engine.state.voices[v].envelopes[0].state == kEnvelopeOff) {
            engine.state.voice_channel[v] = -1;
            continue;
        }
        sounding[sounding_count++] = v;
        busy |= 1u << engine.state.voice_channel[v];
    }
    for (int k = 0; k < count; ++k) channel_update_params(engine, channels[k]);
    render_voices(engine, sounding, sounding_count, n, scratch);

    for (int k = 0; k < count; ++k) {
        const int c = channels[k];
        if (((busy >> c) & 1u) == 0) continue;
        // A sample that is not finite is heard as +0 and its voice cleared at
        // the next block: when a voice reports one, the channel's voices are
        // cleaned and summed again.
        float* frames = engine.buffers.channel_frames[c];
        for (bool clean = false;; clean = true) {
            std::memset(frames, 0, sizeof(float) * 2 * static_cast<size_t>(n));
            bool finite = true;
            for (int j = 0; j < voice_count; ++j) {
                if (engine.state.voice_channel[voices[j]] == c)
                    finite &= voice_mix(engine, voices[j], frames, n, clean);
            }
            if (finite || clean) break;
        }
        if (c == kSpeechChannel) speech_render(engine.speech, frames, static_cast<uint32_t>(n));
        channel_render(engine, c, frames, n, scratch.detector);
    }
}

void run_job(void* context, int job)
{
    BlockJobs& jobs = *static_cast<BlockJobs*>(context);
    render_channels(*jobs.engine, jobs.channels[job], jobs.channel_count[job], jobs.voices[job], jobs.voice_count[job],
                    jobs.n, jobs.engine->buffers.scratch[job]);
}

// A busy channel's rough cost this block, in thousands of instructions: its
// voices (far cheaper in lanes), the set-up, mixing and lane pass every busy
// channel brings, the effects its chain runs and, on its channel, the speech.
// Weighed on the embedded song's blocks, timed job by job, so that two jobs
// come out most even.
constexpr int32_t kLaneVoiceCost = 4;
constexpr int32_t kScalarVoiceCost = 35;
constexpr int32_t kChainCost = 6;
constexpr int32_t kDynamicsCost = 7;
constexpr int32_t kDelayCost = 10;
constexpr int32_t kShelfCost = 3;
constexpr int32_t kDistortionCost = 6;
constexpr int32_t kSpeechCost = 15;

int32_t channel_cost(const SynthEngine& engine, int c, int32_t voices)
{
    const ChannelState& channel = engine.state.channels[c];
    int32_t cost = voices * (engine.lane_width > 1 ? kLaneVoiceCost : kScalarVoiceCost) + kChainCost;
    if ((channel.dynamics.mode & kDynamicsOff) == 0) cost += kDynamicsCost;
    if (bits_from_float(channel.delay.wet) != 0) cost += kDelayCost;
    if (channel.equaliser.boost != 0) cost += kShelfCost;
    if (channel.distortion.mode != kDistortionOff) cost += kDistortionCost;
    if (c == kSpeechChannel) cost += kSpeechCost;
    return cost;
}

// Spreads the busy channels over the threads, dearest first, each to the
// least loaded, then hands the silent channels' set-up to the least loaded
// job in use; returns the jobs used. Where a channel is set up or renders
// changes no bit.
int plan_jobs(const SynthEngine& engine, const int32_t voices_of[kChannelCount], int threads, BlockJobs& jobs)
{
    int32_t cost[kChannelCount];
    int order[kChannelCount];
    for (int c = 0; c < kChannelCount; ++c) {
        cost[c] = voices_of[c] != 0 ? channel_cost(engine, c, voices_of[c]) : 0;
        int j = c;
        for (; j > 0 && cost[order[j - 1]] < cost[c]; --j) order[j] = order[j - 1];
        order[j] = c;
    }
    int32_t load[kMaxRenderThreads] = {};
    int job_of[kChannelCount];
    int used = 0;
    for (int t = 0; t < threads; ++t) jobs.channel_count[t] = jobs.voice_count[t] = 0;
    for (int k = 0; k < kChannelCount; ++k) {
        const int c = order[k];
        const int candidates = cost[c] != 0 || used == 0 ? threads : used;
        int best = 0;
        for (int t = 1; t < candidates; ++t) {
            if (load[t] < load[best]) best = t;
        }
        jobs.channels[best][jobs.channel_count[best]++] = static_cast<int8_t>(c);
        job_of[c] = best;
        load[best] += cost[c];
        if (best + 1 > used) used = best + 1;
    }
    for (int v = 0; v < kVoiceCount; ++v) {
        const int32_t c = engine.state.voice_channel[v];
        if (c < 0 || c >= kChannelCount) continue;
        const int t = job_of[c];
        jobs.voices[t][jobs.voice_count[t]++] = static_cast<int8_t>(v);
    }
    return used;
}

// voices_of[c]: the busy voices of channel c.
void count_voices(const SynthEngine& engine, int32_t voices_of[kChannelCount])
{
    for (int c = 0; c < kChannelCount; ++c) voices_of[c] = 0;
    for (int v = 0; v < kVoiceCount; ++v) {
        const int32_t c = engine.state.voice_channel[v];
        if (c >= 0 && c < kChannelCount) ++voices_of[c];
    }
}

}  // namespace

void block_mix(SynthEngine& engine, int32_t n)
{
    SynthBuffers& buffers = engine.buffers;
    const size_t frame_bytes = sizeof(float) * 2 * static_cast<size_t>(n);
    std::memset(buffers.master, 0, frame_bytes);
    std::memset(buffers.reverb_send, 0, sizeof(float) * static_cast<size_t>(n));
    std::memset(buffers.delay_send, 0, sizeof(float) * static_cast<size_t>(n));

    // A silent channel costs nothing and its effect tails stand still; its
    // set-up runs all the same, on one of the threads.
    int32_t voices_of[kChannelCount];
    count_voices(engine, voices_of);
    const int threads = engine.workers != nullptr ? synth_workers_threads(*engine.workers) : 1;
    BlockJobs jobs;
    jobs.engine = &engine;
    jobs.n = n;
    const int used = plan_jobs(engine, voices_of, threads < kMaxRenderThreads ? threads : kMaxRenderThreads, jobs);
    if (used > 1) {
        synth_workers_run(*engine.workers, used, run_job, &jobs);
    } else {
        run_job(&jobs, 0);
    }

    // The master sums the channels in channel order, whatever thread rendered
    // them; a channel whose last voice ended at this block's start is silent.
    count_voices(engine, voices_of);
    for (int c = 0; c < kChannelCount; ++c) {
        if (voices_of[c] != 0) channel_mix(engine, c, buffers.channel_frames[c], n);
    }

    // Each master unit that blows up is heard as silence and cleared at the
    // next block, so nothing non-finite reaches the output.
    SynthState& state = engine.state;
    reverb_render(state.reverb, buffers.reverb_send, buffers.master, n);
    if (block_sanitize(buffers.master, 2 * n)) state.faulty_master |= kMasterReverb;
    delay_render_send(state.global_delay, buffers.delay_send, buffers.master, n);
    if (block_sanitize(buffers.master, 2 * n)) state.faulty_master |= kMasterDelay;
    master_cut_render(state.master_cut, buffers.master, n);
    dynamics_render(state.master_dynamics, buffers.master, n, buffers.detector);
    if (block_sanitize(buffers.master, 2 * n)) state.faulty_master |= kMasterDynamics;
}

void synth_set_globals(SynthEngine& engine, const uint8_t* block)
{
    FpModeGuard mode;
    float* p = engine.state.global_params;
    for (int i = 0; i < kGlobalParamCount; ++i) p[i] = static_cast<float>(block[i]);
    reverb_setup(engine.state.reverb, p + kGlobalReverb, engine.rates.rate_ratio);
    delay_setup(engine.state.global_delay, p + kGlobalDelay, engine.rates);
    dynamics_setup(engine.state.master_dynamics, p + kGlobalDynamics);
    engine.state.master_cut.low_coefficient = cut_coefficient(p[kGlobalLowCut]);
    engine.state.master_cut.high_coefficient = cut_coefficient(p[kGlobalHighCut]);
}

void synth_render(SynthEngine& engine, float* out, int32_t count, float* out_right, int32_t add)
{
    FpModeGuard mode;
    const int32_t block = engine.rates.block_size;
    while (count > 0) {
        if (engine.state.frames_left <= 0) start_block(engine);
        const int32_t k = count < engine.state.frames_left ? count : engine.state.frames_left;
        const float* source = engine.buffers.master + 2 * (block - engine.state.frames_left);
        if (out_right == nullptr) {
            std::memcpy(out, source, sizeof(float) * 2 * static_cast<size_t>(k));
            out += 2 * k;
        } else if (add != 0) {
            for (int32_t i = 0; i < k; ++i) {
                out[i] += source[2 * i];
                out_right[i] += source[2 * i + 1];
            }
            out += k;
            out_right += k;
        } else {
            for (int32_t i = 0; i < k; ++i) {
                out[i] = source[2 * i];
                out_right[i] = source[2 * i + 1];
            }
            out += k;
            out_right += k;
        }
        count -= k;
        engine.state.frames_left -= k;
    }
}
