// Fuzzes the validating loader with arbitrary song images; every image it
// accepts is walked to its end by the scheduler and played for a short while
// through the transport, exactly as the offline renderer plays it; every
// sample it gives must be finite.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sequencer/player.h"
#include "sequencer/song.h"
#include "sequencer/song_walk.h"
#include "synth/engine.h"
#include "synth/seed_source.h"

namespace {

constexpr uint32_t kRenderFrames = 8820;  // 0.2 s
constexpr uint32_t kChunkFrames = 48;     // what the sound output asks for at a time

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SongError error;
    if (!song_validate(data, size, error)) return 0;

    size_t streams = 0;
    song_walk(
        data, [](void* count, uint32_t, uint64_t, const uint8_t*, size_t) { ++*static_cast<size_t*>(count); },
        &streams);

    static SynthEngine* engine = new SynthEngine();
    static Player* player = new Player();
    static std::vector<float> frames(2 * kChunkFrames);
    seed_source_fix(engine->seeds, 1);
    if (!player_init(*player, *engine, data, nullptr)) __builtin_trap();  // validated images always load
    player_start(*player);
    for (uint32_t done = 0; done < kRenderFrames; done += kChunkFrames) {
        player_render(player, frames.data(), kChunkFrames);
        for (float x : frames) {
            if (!std::isfinite(x)) __builtin_trap();
        }
    }
    return 0;
}
