#include "sequencer/song_walk.h"

#include "sequencer/player.h"

namespace {

constexpr uint32_t kChunkFrames = 1u << 30;

struct Walk {
    const Player* player;
    SongVisitor visit;
    void* context;
    uint64_t chunk_start;          // frames since player_start before this chunk
    uint32_t chunk_start_counter;  // the sample counter then
};

void observe(void* context, uint32_t tick, const uint8_t* stream, size_t length)
{
    const Walk& walk = *static_cast<const Walk*>(context);
    const uint32_t into_chunk = walk.player->seq.sample_counter - walk.chunk_start_counter;
    walk.visit(walk.context, tick, walk.chunk_start + into_chunk, stream, length);
}

}  // namespace

bool song_walk(const uint8_t* image, SongVisitor visit, void* context)
{
    Player player{};
    if (!player_init_dry(player, image)) return false;
    Walk walk{&player, visit, context, 0, 0};
    player.seq.observer = observe;
    player.seq.observer_context = &walk;
    player_start(player);
    while (player.seq.running) {
        walk.chunk_start_counter = player.seq.sample_counter;
        player_render(&player, nullptr, kChunkFrames);
        walk.chunk_start += kChunkFrames;
    }
    return true;
}
