#include <cstdint>

#include "synth/engine.h"
#include "synth/fp_mode.h"

namespace {

constexpr uint8_t kStatusReset = 0xFF;

constexpr int kControllerAllSoundOff = 120;
constexpr int kControllerAllNotesOffFirst = 123;
constexpr int kControllerLast = 127;

// Data bytes a message of this status carries.
int data_byte_count(int32_t status)
{
    switch (status >> 4) {
    case 0xC:
    case 0xD:
        return 1;
    case 0xF:
        return 0;
    default:
        return 2;
    }
}

bool voice_busy(const SynthEngine& engine, int v)
{
    return engine.state.voice_channel[v] >= 0;
}

bool voice_released(const SynthEngine& engine, int v)
{
    return voice_busy(engine, v) && engine.state.voices[v].gate == 0;
}

// The candidate with the smallest stamp, the lower voice number on a tie; -1
// if there is no candidate. The search starts from the note counter, which
// exceeds every stamp until the counter wraps; after a wrap a candidate whose
// stamp is not below the counter is still found by the second pass.
template <typename Candidate>
int oldest_voice(const SynthEngine& engine, Candidate candidate)
{
    int best = -1;
    uint32_t best_stamp = engine.state.note_counter;
    for (int v = 0; v < kVoiceCount; ++v) {
        if (candidate(v) && engine.state.voice_stamp[v] < best_stamp) {
            best = v;
            best_stamp = engine.state.voice_stamp[v];
        }
    }
    if (best >= 0) return best;
    for (int v = 0; v < kVoiceCount; ++v) {
        if (candidate(v) && (best < 0 || engine.state.voice_stamp[v] < best_stamp)) {
            best = v;
            best_stamp = engine.state.voice_stamp[v];
        }
    }
    return best;
}

int choose_voice(const SynthEngine& engine, int c, int32_t limit)
{
    int32_t held_by_channel = 0;
    for (int v = 0; v < kVoiceCount; ++v) {
        if (engine.state.voice_channel[v] == c) ++held_by_channel;
    }
    if (held_by_channel < limit) {
        for (int v = 0; v < kVoiceCount; ++v) {
            if (!voice_busy(engine, v)) return v;
        }
        // All 32 voices busy: steal across channels, released voices first.
        const int released = oldest_voice(engine, [&](int v) { return voice_released(engine, v); });
        if (released >= 0) return released;
        return oldest_voice(engine, [](int) { return true; });
    }
    const int released = oldest_voice(engine, [&](int v) {
        return engine.state.voice_channel[v] == c && engine.state.voices[v].gate == 0;
    });
    if (released >= 0) return released;
    return oldest_voice(engine, [&](int v) { return engine.state.voice_channel[v] == c; });
}

void stream_note_off(SynthEngine& engine, int c, int32_t note)
{
    if (c == kSpeechChannel) speech_release_note_off_hold(engine.speech);
    for (int v = 0; v < kVoiceCount; ++v) {
        if (engine.state.voice_channel[v] == c && engine.state.voices[v].note == note &&
            engine.state.voices[v].gate == 1) {
            voice_note_off(engine, v);
            return;
        }
    }
}

void stream_note_on(SynthEngine& engine, int c, int32_t note, int32_t velocity)
{
    if (c == kSpeechChannel) speech_release_note_on_hold(engine.speech);
    const int32_t limit = patch_of_channel(engine, c)[kPatchPolyphonyOffset];
    // A patch without polyphony has no voice to give.
    if (limit == 0) return;
    const int v = choose_voice(engine, c, limit);
    if (v < 0) return;
    engine.state.voice_channel[v] = c;
    engine.state.voice_stamp[v] = engine.state.note_counter;
    engine.state.note_counter += 1u;
    // Rebuilt while the previous note and velocity are still stored.
    voice_update_params(engine, v);
    voice_note_on(engine, v, note, velocity);
}

void stream_controller(SynthEngine& engine, int c, int number, uint8_t value)
{
    if (number >= 1 && number <= kControllerCount) {
        engine.state.channel_controls[c].controllers[number - 1] = value;
        if (c == kSpeechChannel) {
            speech_control(engine.speech, static_cast<uint32_t>(number), value);
        }
    } else if (number == kControllerAllSoundOff) {
        for (int v = 0; v < kVoiceCount; ++v) {
            if (engine.state.voice_channel[v] != c) continue;
            voice_reset(engine, v);
            engine.state.voice_channel[v] = -1;
        }
    } else if (number >= kControllerAllNotesOffFirst && number <= kControllerLast) {
        if (c == kSpeechChannel) speech_release_note_off_hold(engine.speech);
        for (int v = 0; v < kVoiceCount; ++v) {
            if (engine.state.voice_channel[v] == c) voice_note_off(engine, v);
        }
    }
}

void stream_program_change(SynthEngine& engine, int c, uint8_t program)
{
    program &= 0x7F;
    ChannelControls& controls = engine.state.channel_controls[c];
    if (program != controls.program) {
        controls.program = program;
        for (int v = 0; v < kVoiceCount; ++v) {
            if (engine.state.voice_channel[v] == c) engine.state.voice_channel[v] = -1;
        }
    }
    // Controllers 1..6 return to 0; controller 7 keeps its value.
    for (int i = 0; i < kControllerCount - 1; ++i) controls.controllers[i] = 0;
}

}  // namespace

void synth_process_stream(SynthEngine& engine, const uint8_t* stream)
{
    FpModeGuard mode;
    const uint8_t* p = stream;
    for (;;) {
        const uint8_t b = *p;
        const bool status_read = b >= 0x80;
        if (status_read) {
            if (b == kStreamEnd) return;
            engine.state.running_status = b;
            ++p;
        }
        const int32_t status = engine.state.running_status & 0xFF;
        if (status < 0x80) return;

        // A status byte inside a message cuts it short: the partial message
        // is dropped and the status byte is read afresh, so the end byte is
        // never passed over.
        const int need = data_byte_count(status);
        int have = 0;
        while (have < need && p[have] < 0x80) ++have;
        if (have < need) {
            p += have;
            continue;
        }

        const int c = status & 0x0F;
        switch (status >> 4) {
        case 0x8:
            stream_note_off(engine, c, p[0]);
            break;
        case 0x9:
            if (p[1] == 0) {
                stream_note_off(engine, c, p[0]);
            } else {
                stream_note_on(engine, c, p[0], p[1]);
            }
            break;
        case 0xB:
            stream_controller(engine, c, p[0], p[1]);
            break;
        case 0xC:
            stream_program_change(engine, c, p[0]);
            break;
        case 0xF:
            if (!status_read) {
                // No message carries data here; skip the byte.
                ++p;
            } else if (status == kStatusReset) {
                const uint8_t* bank = engine.patch_bank;
                const int32_t rate = engine.sample_rate;
                synth_init(engine, bank, rate);
            }
            break;
        default:  // key pressure, channel pressure, pitch bend: no effect
            break;
        }
        p += need;
    }
}
