#include "sequencer/player.h"

#include <cstring>

#include "synth/engine.h"
#include "synth/units/numeric.h"

namespace {

constexpr uint32_t kBytesPerOutputFrame = 4;   // 16-bit stereo
constexpr uint32_t kMaxRenderCall = 1u << 30;  // frames per synth_render call (its count is signed)

void render_frames(SequencerState& seq, float* frames, uint32_t count)
{
    if (!seq.engine) return;
    while (count > 0) {
        const uint32_t n = count < kMaxRenderCall ? count : kMaxRenderCall;
        synth_render(*seq.engine, frames, static_cast<int32_t>(n), nullptr, 0);
        frames += 2 * static_cast<size_t>(n);
        count -= n;
    }
}

void write_silence(const SequencerState& seq, float* frames, uint32_t count)
{
    if (!seq.engine) return;
    std::memset(frames, 0, 2 * sizeof(float) * static_cast<size_t>(count));
}

// Frames from the tick just emitted to the next one. The remainder of every
// division is carried exactly: once the carried remainders reach a whole
// divisor, the interval gets one frame more, so timing never drifts.
uint32_t frames_to_next_event(SequencerState& seq)
{
    const uint32_t ticks = seq.next_event_tick - seq.current_tick;
    const uint64_t product = static_cast<uint64_t>(ticks) * seq.tempo;
    const uint64_t divisor = seq.tables.tick_divisor;
    uint64_t frames = product / divisor;
    uint64_t fraction = static_cast<uint64_t>(seq.fraction) + product % divisor;
    if (fraction >= divisor) {
        fraction -= divisor;
        frames += 1;
    }
    seq.fraction = static_cast<uint32_t>(fraction);
    return static_cast<uint32_t>(frames);
}

bool player_load(Player& player, SynthEngine* engine, const uint8_t* image)
{
    SequencerState& seq = player.seq;
    // Texts beyond the song's own count keep what the table held: start from
    // an empty table so nothing of an earlier image is left in it.
    std::memset(static_cast<void*>(&seq.tables), 0, sizeof seq.tables);
    player.song_loaded = song_load(image, seq.tables);
    seq.engine = engine;
    if (player.song_loaded) seq_reset(seq);
    seq.samples_to_next_event = 0;
    seq.sample_counter = 0;
    seq.start_byte_position = 0;
    seq.running = 0;
    seq.muted = 1;
    return player.song_loaded;
}

}  // namespace

int16_t pcm16_from_float(float sample, float scale)
{
    int32_t value = nearest(sample * scale);
    if (value < -kPcmClamp) value = -kPcmClamp;
    if (value > kPcmClamp) value = kPcmClamp;
    return static_cast<int16_t>(value);
}

bool player_init(Player& player, SynthEngine& engine, const uint8_t* image, const PlayerOutput* output)
{
    player.output = output;
    bool ok = player_load(player, &engine, image);
    if (output) {
        if (!output->open(output->context, player_render, &player)) ok = false;
        output->set_gain(output->context, 1.0f);
    }
    return ok;
}

bool player_init_dry(Player& player, const uint8_t* image)
{
    player.output = nullptr;
    return player_load(player, nullptr, image);
}

uint32_t player_start(Player& player)
{
    SequencerState& seq = player.seq;
    const PlayerOutput* output = player.output;
    // The reset re-initialises the engine: it must not overlap a render.
    if (output) output->lock(output->context);
    seq.running = 0;
    seq.muted = 1;
    if (player.song_loaded) {
        seq_reset(seq);
        seq.samples_to_next_event = 0;  // the tick-0 events are due at once, also on a restart
        const uint32_t counter = seq.sample_counter;
        seq.muted = 0;
        seq.running = 1;
        seq.start_byte_position = counter * kBytesPerOutputFrame;
    } else {
        seq.start_byte_position = seq.sample_counter * kBytesPerOutputFrame;
    }
    const uint32_t start = seq.start_byte_position;
    if (output) output->unlock(output->context);
    return start;
}

void player_stop(Player& player)
{
    const PlayerOutput* output = player.output;
    if (output) output->lock(output->context);
    player.seq.running = 0;
    player.seq.muted = 1;
    if (output) output->unlock(output->context);
}

void player_close(Player& player)
{
    if (player.output) player.output->close(player.output->context);
}

void player_wake(Player& player)
{
    if (player.output) player.output->wake(player.output->context);
}

int32_t player_position_ms(Player& player)
{
    const PlayerOutput* output = player.output;
    const uint32_t played = output ? static_cast<uint32_t>(output->played_bytes(output->context))
                                   : player.seq.sample_counter * kBytesPerOutputFrame;
    const int32_t heard = static_cast<int32_t>(played - player.seq.start_byte_position);
    return static_cast<int32_t>(static_cast<int64_t>(heard) * 1000 / kOutputBytesPerSecond);
}

int32_t player_render(void* context, float* frames, uint32_t count)
{
    Player& player = *static_cast<Player*>(context);
    SequencerState& seq = player.seq;

    if (!seq.running) {
        // Stopped: silence. Song ended: the engine plays on without events.
        if (seq.muted) {
            write_silence(seq, frames, count);
        } else {
            render_frames(seq, frames, count);
        }
        seq.sample_counter += count;
        return 0;
    }
    if (seq.muted) {
        write_silence(seq, frames, count);
        seq.sample_counter += count;
        return 0;
    }
    if (count == 0) return 0;

    do {
        const uint32_t n = count < seq.samples_to_next_event ? count : seq.samples_to_next_event;
        if (n > 0) render_frames(seq, frames, n);
        count -= n;
        seq.samples_to_next_event -= n;
        seq.sample_counter += n;
        if (frames) frames += 2 * static_cast<size_t>(n);
        if (seq.samples_to_next_event == 0) {
            seq_emit_events(seq);
            seq.samples_to_next_event = seq.running ? frames_to_next_event(seq) : kNoEventTick;
        }
    } while (count > 0);
    return 0;
}
