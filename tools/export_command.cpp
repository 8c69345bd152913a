// cantilena-tool export: writes a song as a program of its own, one that
// plays it as cantilena plays its own song. The tool carries the player for
// it, so export needs no other file and no compiler.
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "data/carried_player.h"
#include "sequencer/song_end.h"
#include "sequencer/song_trailer.h"
#include "synth/engine.h"
#include "tools/commands.h"
#include "tools/image_file.h"
#include "tools/program_export.h"
#include "tools/song_compile.h"

namespace {

struct ExportOptions {
    std::string input;  // image, SONG.yaml, an exported program, or "" for the embedded song
    std::string output;
    std::string title;
    bool titled = false;
    bool pack = false;
};

struct ExportSong {
    std::vector<uint8_t> image;
    InputFiles inputs;  // the files it was read from
    std::string title;
    bool has_end = false;
    uint32_t end_frames = 0;
};

bool is_song_yaml(const std::string& path)
{
    for (const char* extension : {".yaml", ".yml"}) {
        const std::string e = extension;
        if (path.size() > e.size() && path.compare(path.size() - e.size(), e.size(), e) == 0) return true;
    }
    return false;
}

void load_song(const ExportOptions& options, ExportSong& song)
{
    if (is_song_yaml(options.input)) {
        Warnings warnings;
        std::string title;
        try {
            song.image = song_compile(options.input, file_reader_disk(&song.inputs), warnings, &title);
        } catch (const AuthorError&) {
            for (const std::string& line : warnings.lines) std::fprintf(stderr, "warning: %s\n", line.c_str());
            throw;
        }
        for (const std::string& line : warnings.lines) std::fprintf(stderr, "warning: %s\n", line.c_str());
        song.title = title.empty() ? program_title_from_file_name(options.input) : title;
        return;
    }
    SongImageFile file;
    std::string error;
    if (!song_image_open(options.input, file, error)) throw AuthorError("", error);
    song.image = std::move(file.bytes);
    song.inputs = file_identities({options.input});
    song.title = file.has_title ? file.title : program_title_from_file_name(options.input);
    song.has_end = file.has_title;
    song.end_frames = file.end_frames;
}

void show_progress(void*, uint64_t done, uint64_t most)
{
    std::fprintf(stderr, "\rmeasuring where the song ends: %.1f s (at most %.1f)",
                 static_cast<double>(done) / kSampleRate, static_cast<double>(most) / kSampleRate);
}

uint32_t measure_end(const ExportSong& song)
{
    SongLastEvent last;
    song_find_last_event(song.image.data(), last);
    if (last.frame + kSongEndMaxTailFrames > UINT32_MAX)
        throw AuthorError("", "the song is too long for a program: its last event comes after " +
                                  std::to_string(last.frame / kSampleRate) + " s");
    auto engine = std::make_unique<SynthEngine>();
    SongEnd end{};
    const bool progress = isatty(STDERR_FILENO) != 0;
    song_measure_end(song.image.data(), *engine, end, progress ? show_progress : nullptr, nullptr);
    if (progress) std::fputc('\n', stderr);
    return static_cast<uint32_t>(end.end_frame);
}

void run_export(const ExportOptions& options)
{
    if (kCarriedPlayerSize == 0)
        throw AuthorError("", "this cantilena-tool was built without the player, so it cannot export");
    ExportSong song;
    load_song(options, song);
    if (options.titled) {
        if (!song_title_valid(options.title.data(), options.title.size()))
            throw AuthorError("--title", "must be printable text of at most " + std::to_string(kTrailerTitleBytes - 1) +
                                             " bytes (UTF-8)");
        song.title = options.title;
    } else if (song.title.empty()) {
        throw AuthorError(options.input, "its name makes no title: give one with --title");
    }
    if (!song.has_end) song.end_frames = measure_end(song);

    const std::vector<uint8_t> player(kCarriedPlayer, kCarriedPlayer + kCarriedPlayerSize);
    std::vector<uint8_t> program = program_compose(player, song.image, song.title, song.end_frames);
    if (options.pack) program = program_pack(program);
    output_write_file(options.output, program, song.inputs, 0755);
}

}  // namespace

void add_export_command(CLI::App& app)
{
    auto options = std::make_shared<ExportOptions>();
    auto* cmd = app.add_subcommand("export", "Write a song as a program of its own that plays it");
    cmd->add_option("SONG", options->input,
                    "Song image, SONG.yaml (compiled first) or an exported program (default: the embedded song)");
    cmd->add_option("-o,--output", options->output, "The program to write (replaced only when all went well)")
        ->required();
    cmd->add_option("--title", options->title,
                    "The title its banner shows (default: SONG.yaml's title:, else the file's name)");
    cmd->add_flag("--pack", options->pack,
                  "Compress the program behind a shell stub that unpacks it with xz when it starts");
    cmd->footer(
        "The program plays like cantilena: no arguments, Esc stops it, and it ends by itself once the song "
        "has died away (export measures where). `strip` removes the song from it.");
    cmd->callback([options, cmd] {
        options->titled = cmd->count("--title") > 0;
        try {
            run_export(*options);
        } catch (const AuthorError& e) {
            std::fprintf(stderr, "cantilena-tool export: %s\n", e.what());
            throw CLI::RuntimeError(1);
        }
    });
}
