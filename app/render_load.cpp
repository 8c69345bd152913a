#include "app/render_load.h"

#include <ctime>

#include "synth/engine.h"

namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;

// Only one output is ever wrapped: its start finds the load here.
RenderLoad* g_wrapped = nullptr;

int64_t monotonic_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

int32_t render_timed(void* context, float* frames, uint32_t count)
{
    RenderLoad& load = *static_cast<RenderLoad*>(context);
    const int64_t start = monotonic_ns();
    const int32_t result = load.render(load.render_context, frames, count);
    render_load_note(load, count, monotonic_ns() - start);
    return result;
}

bool open_timed(void* context, RenderCallback callback, void* callback_context)
{
    RenderLoad& load = *g_wrapped;
    load.render = callback;
    load.render_context = callback_context;
    return load.open(context, render_timed, &load);
}

}  // namespace

void render_load_setup(RenderLoad& load, SynthEngine& engine, SynthWorkers* pool)
{
    load.engine = &engine;
    load.pool = pool;
    load.engaged = false;
    load.window_frames = 0;
    load.window_ns = 0;
    synth_attach_workers(engine, nullptr);
}

bool render_load_note(RenderLoad& load, uint32_t frames, int64_t elapsed_ns)
{
    load.window_frames += frames;
    load.window_ns += elapsed_ns;
    if (load.window_frames < kLoadWindowFrames || load.pool == nullptr) return load.engaged;
    const int64_t lasts_ns = static_cast<int64_t>(load.window_frames) * kNanosecondsPerSecond /
                             (load.engine->sample_rate > 0 ? load.engine->sample_rate : kSampleRate);
    if (!load.engaged && 2 * load.window_ns > lasts_ns) {
        load.engaged = true;
    } else if (load.engaged && 4 * load.window_ns < lasts_ns) {
        load.engaged = false;
    }
    synth_attach_workers(*load.engine, load.engaged ? load.pool : nullptr);
    load.window_frames = 0;
    load.window_ns = 0;
    return load.engaged;
}

void render_load_wrap(RenderLoad& load, PlayerOutput& output)
{
    load.open = output.open;
    g_wrapped = &load;
    output.open = open_timed;
}
