// The player's extra rendering thread, taken on only while it is needed.
// Every block shared with a second thread costs a wake-up and a context
// switch or two, more than a light song's block itself costs; the ring holds
// a third of a second, so the refill worker alone keeps ahead of any song it
// renders faster than real time. The pool takes part from the moment renders
// take more than half the time their frames last, judged over windows of at
// least kLoadWindowFrames, and leaves once they take less than a quarter.
#pragma once

#include <cstdint>

#include "sequencer/player.h"

struct SynthEngine;
struct SynthWorkers;

constexpr uint32_t kLoadWindowFrames = 4096;  // about 93 ms at 44100 Hz

struct RenderLoad {
    SynthEngine* engine;
    SynthWorkers* pool;  // null: the refill worker always renders alone
    bool engaged;        // the pool is attached to the engine
    uint32_t window_frames;
    int64_t window_ns;
    // The output's own start and the transport's render, which the timed
    // render calls.
    bool (*open)(void* context, RenderCallback callback, void* callback_context);
    RenderCallback render;
    void* render_context;
};

// The engine renders alone until the load calls for the pool.
void render_load_setup(RenderLoad& load, SynthEngine& engine, SynthWorkers* pool);
// Counts a render of frames that took elapsed_ns of wall time; where that
// closes a window, attaches or detaches the pool as the load asks. Returns
// whether the pool takes part in the next render.
bool render_load_note(RenderLoad& load, uint32_t frames, int64_t elapsed_ns);
// Times every render the output asks of the transport: output.open is
// replaced by one that hands the output the timed render. The load must
// outlive the output.
void render_load_wrap(RenderLoad& load, PlayerOutput& output);
