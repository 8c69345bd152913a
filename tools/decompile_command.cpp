#include <cstdio>
#include <memory>

#include "tools/commands.h"
#include "tools/song_compile.h"

namespace {

struct DecompileArguments {
    std::string image;
    std::string directory;
    bool force = false;
};

}  // namespace

void add_decompile_command(CLI::App& app)
{
    auto args = std::make_shared<DecompileArguments>();
    auto* cmd =
        app.add_subcommand("decompile",
                           "Write SONG.yaml, patch files and a MIDI file that compile back into IMAGE byte for byte");
    cmd->add_option("IMAGE", args->image, "the song image")->required();
    cmd->add_option("-o,--output", args->directory, "the directory to write into (created when missing)")->required();
    cmd->add_flag("--force", args->force,
                  "write into a directory that is not empty, replacing files of the same names");
    cmd->callback([args] {
        try {
            InputFiles inputs;
            const std::vector<uint8_t> image = file_read_all(args->image, kImageFileLimit, &inputs);
            output_write_directory(args->directory, song_decompile(image, args->image), args->force, inputs);
        } catch (const AuthorError& e) {
            std::fprintf(stderr, "cantilena-tool decompile: %s\n", e.what());
            throw CLI::RuntimeError(1);
        }
    });
}
