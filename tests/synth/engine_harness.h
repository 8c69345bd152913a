// An engine on the heap (the record holds a few megabytes of rings) driven by
// builder-made banks, global blocks and streams; its seed is fixed, so every
// harness on the same bank renders the same bits.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "synth/engine.h"
#include "synth/fp_mode.h"
#include "tests/support/patch_builder.h"

constexpr uint32_t kHarnessSeed = 7;

struct EngineHarness {
    std::vector<uint8_t> bank;
    std::unique_ptr<SynthEngine> engine = std::make_unique<SynthEngine>();

    explicit EngineHarness(const BankBuilder& banks, const GlobalsBuilder& globals = GlobalsBuilder(),
                           int32_t rate = kSampleRate)
        : bank(banks.bytes())
    {
        seed_source_fix(engine->seeds, kHarnessSeed);
        synth_init(*engine, bank.data(), rate);
        set_globals(globals);
    }

    explicit EngineHarness(const PatchBuilder& patch) : EngineHarness(BankBuilder().add(patch)) {}

    void set_globals(const GlobalsBuilder& globals)
    {
        const auto block = globals.bytes();
        synth_set_globals(*engine, block.data());
    }

    EngineHarness& play(const StreamBuilder& stream) { return play(stream.bytes()); }

    EngineHarness& play(const std::vector<uint8_t>& bytes)
    {
        synth_process_stream(*engine, bytes.data());
        return *this;
    }

    // count interleaved stereo frames.
    std::vector<float> render(int32_t count)
    {
        std::vector<float> out(2 * static_cast<size_t>(count));
        synth_render(*engine, out.data(), count, nullptr, 0);
        return out;
    }

    int32_t channel_of(int v) const { return engine->state.voice_channel[v]; }
    const VoiceState& voice(int v) const { return engine->state.voices[v]; }

    // The channels (-1: free) and gates of the first count voices.
    std::vector<int> channels(int count) const
    {
        return std::vector<int>(engine->state.voice_channel, engine->state.voice_channel + count);
    }
    std::vector<int> gates(int count) const
    {
        std::vector<int> out;
        for (int v = 0; v < count; ++v) out.push_back(engine->state.voices[v].gate);
        return out;
    }
    // The program, then controllers 1..7 of a channel.
    std::vector<int> controls(int channel) const
    {
        const ChannelControls& controls = engine->state.channel_controls[channel];
        std::vector<int> out{controls.program};
        out.insert(out.end(), std::begin(controls.controllers), std::end(controls.controllers));
        return out;
    }

    int busy_voices() const
    {
        int32_t counts[kChannelCount + 1];
        synth_voice_usage(*engine, counts);
        return counts[kChannelCount];
    }
};

// One sine oscillator through an open envelope.
inline PatchBuilder sine_patch(uint8_t polyphony = 16)
{
    return PatchBuilder().oscillator(0, {.mode = kOscillatorSine}).polyphony(polyphony);
}

inline bool all_zero(const float* values, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (values[i] != 0.0f) return false;
    }
    return true;
}

inline bool all_zero(const std::vector<float>& values)
{
    return all_zero(values.data(), values.size());
}
