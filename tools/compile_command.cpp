#include <cstdio>
#include <memory>

#include "tools/commands.h"
#include "tools/midi_song.h"
#include "tools/patch_params.h"
#include "tools/song_compile.h"

namespace {

struct CompileArguments {
    std::string song;
    std::string output;
    bool quiet = false;
    bool parameters = false;
};

void print_warnings(const Warnings& warnings)
{
    for (const std::string& line : warnings.lines) std::fprintf(stderr, "warning: %s\n", line.c_str());
}

}  // namespace

void add_compile_command(CLI::App& app)
{
    auto args = std::make_shared<CompileArguments>();
    auto* cmd = app.add_subcommand("compile",
                                   "Compile SONG.yaml, its patch files and its MIDI file into a song image, "
                                   "or a MIDI file alone with the starter bank");
    cmd->add_option("SONG", args->song, "the song description (SONG.yaml), or a standard MIDI file");
    cmd->add_option("-o,--output", args->output, "the song image to write (written only when everything compiled)");
    cmd->add_flag("-q,--quiet", args->quiet, "print no warnings");
    cmd->add_flag("--parameters", args->parameters, "print every patch and global parameter (Markdown) and exit");
    cmd->footer("Warnings and errors name the file and the line, or the byte offset in the MIDI file.");
    cmd->callback([args] {
        if (args->parameters) {
            std::fputs(params_reference_markdown().c_str(), stdout);
            return;
        }
        if (args->song.empty() || args->output.empty()) {
            std::fprintf(stderr,
                         "cantilena-tool compile: usage: cantilena-tool compile SONG.yaml|song.mid -o OUT.img\n");
            throw CLI::RuntimeError(2);
        }
        Warnings warnings;
        try {
            InputFiles inputs;
            const FileReader read = file_reader_disk(&inputs);
            const std::vector<uint8_t> image = is_midi_file(read(args->song))
                                                   ? song_compile_midi(args->song, read, warnings)
                                                   : song_compile(args->song, read, warnings);
            if (!args->quiet) print_warnings(warnings);
            output_write_file(args->output, image, inputs);
        } catch (const AuthorError& e) {
            if (!args->quiet) print_warnings(warnings);
            std::fprintf(stderr, "cantilena-tool compile: %s\n", e.what());
            throw CLI::RuntimeError(1);
        }
    });
}
