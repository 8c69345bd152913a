#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>

#include "tools/commands.h"
#include "tools/song_compile.h"

namespace {

struct DecompileArguments {
    std::string image;
    std::string directory;
};

// Creates a directory and its parents (as mkdir -p).
void make_directories(const std::string& path)
{
    std::string partial;
    size_t at = 0;
    while (at <= path.size()) {
        const size_t slash = path.find('/', at);
        partial = path.substr(0, slash == std::string::npos ? path.size() : slash);
        at = slash == std::string::npos ? path.size() + 1 : slash + 1;
        if (partial.empty()) continue;
        if (::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST)
            throw AuthorError(partial, std::string("cannot create the directory: ") + std::strerror(errno));
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) throw AuthorError(path, "not a directory");
}

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
