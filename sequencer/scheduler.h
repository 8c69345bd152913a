// The event scheduler: keeps a cursor per track, and whenever the renderer
// reaches the next due tick writes every event due at it into a MIDI-style
// EventStream (running status, end byte kStreamEnd) and hands it to the engine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sequencer/song.h"

struct SynthEngine;

constexpr size_t kStreamBufferBytes = 4096;  // end byte included
constexpr uint32_t kNoEventTick = 0xFFFFFFFFu;
constexpr uint32_t kDefaultTempo = kDefaultTempoWord * kTempoScale;

struct TrackCursor {
    const uint8_t* data;  // column 0 of the current event
    uint32_t index;       // 0..N
    uint32_t next_tick;
    uint8_t running[2];  // running values (two for notes and pitch bends)
};

struct GlobalCursor {
    const uint8_t* data;  // track start; event i addressed from it
    uint32_t next_tick;
    uint32_t index;
};

struct ChannelCursors {
    TrackCursor notes;
    TrackCursor program;
    TrackCursor pitch_bend;
    TrackCursor controllers[kControllerTracks];
};

// Called with every stream handed to the engine (for inspection tools).
using StreamObserver = void (*)(void* context, uint32_t tick, const uint8_t* stream, size_t length);

struct SequencerState {
    uint32_t running;  // events are being generated
    uint32_t muted;    // the renderer outputs silence
    uint32_t current_tick;
    uint32_t next_event_tick;  // kNoEventTick when none is left
    GlobalCursor global;
    uint32_t tempo;  // samples per quarter at 44100 Hz, times kTickDivisorScale
    uint32_t numerator;
    uint32_t denominator;
    uint32_t subdivision;
    ChannelCursors channels[kChannelCount];
    uint32_t sample_counter;         // frames handed out since player_init
    uint32_t samples_to_next_event;  // 0 = due now
    uint32_t fraction;               // carried division remainder
    uint32_t start_byte_position;    // sample counter * 4 at player_start
    SongTables tables;
    uint8_t stream[kStreamBufferBytes];
    SynthEngine* engine;
    StreamObserver observer;  // may be null
    void* observer_context;
};

// Rewinds every cursor, restores the defaults, re-initialises the engine and
// hands it the song's global block and speech texts.
void seq_reset(SequencerState& seq);
// Emits the events due at the next event tick and schedules the next one.
void seq_emit_events(SequencerState& seq);
