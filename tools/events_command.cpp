// cantilena-tool events: lists every EventStream the player hands to the
// engine, from player_start until the song ends, with its tick and the frame
// (counted from player_start) at which it reaches the engine.
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>

#include "sequencer/song_walk.h"
#include "tools/commands.h"
#include "tools/image_file.h"

namespace {

void print_stream(void*, uint32_t tick, uint64_t frame, const uint8_t* stream, size_t length)
{
    std::printf("tick %" PRIu32 " frame %" PRIu64 ":", tick, frame);
    for (size_t i = 0; i < length; ++i) std::printf(" %02X", stream[i]);
    std::putchar('\n');
}

int run_events(const std::string& path)
{
    std::string error;
    SongImageFile image;
    if (!song_image_open(path, image, error)) {
        std::fprintf(stderr, "cantilena-tool events: %s\n", error.c_str());
        return 1;
    }
    const bool loaded = song_walk(image.bytes.data(), print_stream, nullptr);
    if (!loaded) {
        std::fprintf(stderr, "cantilena-tool events: %s: the song does not load\n", image.name.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

void add_events_command(CLI::App& app)
{
    auto path = std::make_shared<std::string>();
    auto* cmd = app.add_subcommand(
        "events", "List every event stream the player hands to the engine: tick, frame since the start, bytes");
    cmd->add_option("IMAGE", *path, "Song image file (default: the embedded song)");
    cmd->callback([path] {
        const int status = run_events(*path);
        if (status != 0) throw CLI::RuntimeError(status);
    });
}
