#include "sequencer/scheduler.h"

#include "synth/engine.h"
#include "synth/units/numeric.h"

namespace {

constexpr uint8_t kStatusNoteOn = 0x90;
constexpr uint8_t kStatusController = 0xB0;
constexpr uint8_t kStatusProgram = 0xC0;
constexpr uint8_t kStatusPitchBend = 0xE0;
constexpr uint8_t kDataMask = 0x7F;  // data bytes stay below the status range
constexpr int kNoStatus = -1;

// Column j of the event at the cursor, for a track of count events.
uint8_t column(const TrackCursor& cursor, uint32_t count, uint32_t j)
{
    return cursor.data[static_cast<size_t>(j) * count];
}

uint32_t cursor_time(const TrackCursor& cursor, uint32_t count)
{
    return song_time_delta(cursor.data, count);
}

uint32_t global_time(const GlobalCursor& cursor, uint32_t count, uint32_t i)
{
    return song_time_delta(cursor.data + i, count);
}

void cursor_rewind(TrackCursor& cursor, const TrackRef& track, uint32_t now, uint32_t& next_event_tick)
{
    cursor.data = track.data;
    cursor.index = 0;
    cursor.running[0] = 0;
    cursor.running[1] = 0;
    cursor.next_tick = kNoEventTick;
    if (track.count == 0) return;
    cursor.next_tick = now + cursor_time(cursor, track.count);
    if (cursor.next_tick < next_event_tick) next_event_tick = cursor.next_tick;
}

// Moves past the event just emitted at tick now; a following event with a
// zero delta stays due at now.
void cursor_advance(TrackCursor& cursor, uint32_t count, uint32_t now)
{
    ++cursor.index;
    ++cursor.data;
    if (cursor.index >= count) return;
    const uint32_t delta = cursor_time(cursor, count);
    if (delta != 0) cursor.next_tick = now + delta;
}

void cursor_schedule(const TrackCursor& cursor, uint32_t count, uint32_t& next_event_tick)
{
    if (cursor.index < count && cursor.next_tick < next_event_tick) next_event_tick = cursor.next_tick;
}

// Fills the stream buffer for one tick; hands a full buffer over and goes on
// in a fresh one (which starts without running status).
struct StreamWriter {
    SequencerState& seq;
    uint32_t tick;
    size_t length;
    int last_status;

    void hand_over()
    {
        seq.stream[length++] = kStreamEnd;
        if (seq.observer) seq.observer(seq.observer_context, tick, seq.stream, length);
        if (seq.engine) synth_process_stream(*seq.engine, seq.stream);
        length = 0;
        last_status = kNoStatus;
    }

    void message(uint8_t status, const uint8_t* data, size_t data_count)
    {
        size_t needed = data_count + (status != last_status ? 1 : 0);
        if (length + needed + 1 > kStreamBufferBytes) {
            hand_over();
            needed = data_count + 1;
        }
        if (status != last_status) {
            seq.stream[length++] = status;
            last_status = status;
        }
        for (size_t i = 0; i < data_count; ++i) seq.stream[length++] = data[i] & kDataMask;
    }
};

}  // namespace

void seq_reset(SequencerState& seq)
{
    const SongTables& tables = seq.tables;
    seq.current_tick = 0;
    seq.next_event_tick = kNoEventTick;
    seq.global.data = tables.global_track;
    seq.global.index = 0;
    seq.global.next_tick = kNoEventTick;
    if (tables.global_count > 0) {
        seq.global.next_tick = global_time(seq.global, tables.global_count, 0);
        if (seq.global.next_tick < seq.next_event_tick) seq.next_event_tick = seq.global.next_tick;
    }

    for (int c = 0; c < kChannelCount; ++c) {
        const ChannelTracks& tracks = tables.channels[c];
        if (tracks.notes.count == 0) continue;  // an absent channel is never read
        ChannelCursors& cursors = seq.channels[c];
        cursor_rewind(cursors.notes, tracks.notes, seq.current_tick, seq.next_event_tick);
        cursor_rewind(cursors.program, tracks.programs, seq.current_tick, seq.next_event_tick);
        cursor_rewind(cursors.pitch_bend, tracks.pitch_bends, seq.current_tick, seq.next_event_tick);
        for (int k = 0; k < kControllerTracks; ++k)
            cursor_rewind(cursors.controllers[k], tracks.controllers[k], seq.current_tick, seq.next_event_tick);
    }

    seq.tempo = kDefaultTempo;
    seq.numerator = kDefaultNumerator;
    seq.denominator = kDefaultDenominator;
    seq.subdivision = kDefaultSubdivision;
    seq.fraction = 0;

    if (seq.engine) {
        synth_init(*seq.engine, tables.patch_bank, kSampleRate);
        synth_set_globals(*seq.engine, tables.global_block);
        speech_set_texts(seq.engine->speech, tables.speech_texts);
    }
}

void seq_emit_events(SequencerState& seq)
{
    if (!seq.running) return;
    const SongTables& tables = seq.tables;
    const uint32_t now = seq.next_event_tick;
    uint32_t next = kNoEventTick;
    seq.current_tick = now;
    StreamWriter writer{seq, now, 0, kNoStatus};

    // The global track: at most one event per call, before any channel.
    const uint32_t global_count = tables.global_count;
    GlobalCursor& global = seq.global;
    if (global.index < global_count) {
        if (global.next_tick == now) {
            const uint32_t i = global.index;
            const uint8_t* track = global.data;
            const size_t count = global_count;
            seq.tempo = word_from_bytes(track + kGlobalTempoColumn * count + 4 * static_cast<size_t>(i)) * kTempoScale;
            seq.numerator = track[kGlobalNumeratorColumn * count + i];
            seq.denominator = track[kGlobalDenominatorColumn * count + i];
            seq.subdivision = track[kGlobalSubdivisionColumn * count + i];
            global.index = i + 1;
            if (global.index < global_count) {
                const uint32_t delta = global_time(global, global_count, global.index);
                if (delta != 0) global.next_tick = now + delta;
            }
        }
        if (global.index < global_count) next = global.next_tick;
    }

    for (int c = 0; c < kChannelCount; ++c) {
        const ChannelTracks& tracks = tables.channels[c];
        if (tracks.notes.count == 0) continue;
        ChannelCursors& cursors = seq.channels[c];
        const uint8_t channel = static_cast<uint8_t>(c);

        TrackCursor& program = cursors.program;
        const uint32_t program_count = tracks.programs.count;
        if (program.index < program_count && program.next_tick == now) {
            program.running[0] =
                static_cast<uint8_t>(program.running[0] + column(program, program_count, kTimeColumns));
            writer.message(kStatusProgram | channel, program.running, 1);
            cursor_advance(program, program_count, now);
        }
        cursor_schedule(program, program_count, next);

        for (int k = 0; k < kControllerTracks; ++k) {
            TrackCursor& controller = cursors.controllers[k];
            const uint32_t count = tracks.controllers[k].count;
            if (controller.index < count && controller.next_tick == now) {
                controller.running[0] =
                    static_cast<uint8_t>(controller.running[0] + column(controller, count, kTimeColumns));
                const uint8_t data[2] = {static_cast<uint8_t>(k + 1), controller.running[0]};
                writer.message(kStatusController | channel, data, 2);
                cursor_advance(controller, count, now);
            }
            cursor_schedule(controller, count, next);
        }

        TrackCursor& bend = cursors.pitch_bend;
        const uint32_t bend_count = tracks.pitch_bends.count;
        if (bend.index < bend_count && bend.next_tick == now) {
            bend.running[0] = static_cast<uint8_t>(bend.running[0] + column(bend, bend_count, kTimeColumns));
            bend.running[1] = static_cast<uint8_t>(bend.running[1] + column(bend, bend_count, kTimeColumns + 1));
            writer.message(kStatusPitchBend | channel, bend.running, 2);
            cursor_advance(bend, bend_count, now);
        }
        cursor_schedule(bend, bend_count, next);

        // Every note due now, under one status byte.
        TrackCursor& notes = cursors.notes;
        const uint32_t note_count = tracks.notes.count;
        while (notes.index < note_count && notes.next_tick == now) {
            notes.running[0] = static_cast<uint8_t>(notes.running[0] + column(notes, note_count, kTimeColumns));
            notes.running[1] = static_cast<uint8_t>(notes.running[1] + column(notes, note_count, kTimeColumns + 1));
            writer.message(kStatusNoteOn | channel, notes.running, 2);
            cursor_advance(notes, note_count, now);
        }
        cursor_schedule(notes, note_count, next);
    }

    seq.next_event_tick = next;
    writer.hand_over();
    if (next == kNoEventTick) seq.running = 0;  // every track is exhausted
}
