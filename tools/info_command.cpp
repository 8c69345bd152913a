// cantilena-tool info: the structure of a song image, of the embedded song
// or of the song appended to a program, in the words the player's --info uses.
#include <cstdio>
#include <memory>
#include <string>

#include "sequencer/song_info.h"
#include "tools/commands.h"
#include "tools/image_file.h"

namespace {

void write_stdout(void*, const char* text, size_t length)
{
    std::fwrite(text, 1, length, stdout);
}

int run_info(const std::string& path)
{
    std::string error;
    SongImageFile image;
    if (!song_image_open(path, image, error)) {
        std::fprintf(stderr, "cantilena-tool info: %s\n", error.c_str());
        return 1;
    }
    const SongInfoSubject subject{image.bytes.data(), image.bytes.size(), image.what.c_str(),
                                  image.has_title ? image.title.c_str() : nullptr, image.end_frames};
    song_info_write(subject, write_stdout, nullptr);
    return 0;
}

}  // namespace

void add_info_command(CLI::App& app)
{
    auto path = std::make_shared<std::string>();
    auto* cmd = app.add_subcommand("info", "Show the structure of a song image and its length");
    cmd->add_option("IMAGE", *path, "Song image file, or a program that export wrote (default: the embedded song)");
    cmd->callback([path] {
        const int status = run_info(*path);
        if (status != 0) throw CLI::RuntimeError(status);
    });
}
