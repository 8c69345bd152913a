#include <cstdio>
#include <memory>

#include "tools/commands.h"
#include "tools/song_compile.h"

namespace {

struct DecompileArguments {
    std::string image;
    std::string directory;
};

}  // namespace

void add_decompile_command(CLI::App& app)
{
    auto args = std::make_shared<DecompileArguments>();
    auto* cmd = app.add_subcommand(
        "decompile", "Write SONG.yaml, patch files and a MIDI file that compile back into IMAGE byte for byte");
    cmd->add_option("IMAGE", args->image, "the song image")->required();
    cmd->add_option("-o,--output", args->directory, "the directory to write into (created when missing)")->required();
    cmd->callback([args] {
        try {
            const std::vector<uint8_t> image = file_read_all(args->image);
            const std::vector<SourceFile> files = song_decompile(image, args->image);
            make_directories(path_join(args->directory, kPatchDirectory));
            for (const SourceFile& file : files) file_write_atomically(path_join(args->directory, file.name), file.bytes);
        } catch (const AuthorError& e) {
            std::fprintf(stderr, "cantilena-tool decompile: %s\n", e.what());
            throw CLI::RuntimeError(1);
        }
    });
}
