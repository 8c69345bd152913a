#include <cstdio>
#include <memory>

#include "tools/author_common.h"
#include "tools/commands.h"
#include "tools/lyrics.h"

namespace {

struct LyricsArguments {
    std::string text;
    bool spoken = false;
    int notes = 0;
};

}  // namespace

void add_lyrics_command(CLI::App& app)
{
    auto args = std::make_shared<LyricsArguments>();
    auto* cmd = app.add_subcommand("lyrics", "Print the phonetic text that sings (or speaks) English words");
    cmd->add_option("TEXT", args->text, "the words; phonemes may be written inline in braces: {hEH lOW}")->required();
    cmd->add_flag("--spoken", args->spoken, "speak the words on one note instead of singing a syllable a note");
    cmd->add_option("--notes", args->notes,
                    "the number of notes the words are sung to: where a word has "
                    "pronunciations of different lengths, the ones that fit are taken")
        ->check(CLI::NonNegativeNumber);
    cmd->footer(
        "Sung: one syllable a note, \"word+\" holds the last syllable over one more note.\n"
        "Paste the output into SONG.yaml's speech: list, or write {lyrics: \"...\"} there directly.");
    cmd->callback([args] {
        try {
            const LyricsStyle style = args->spoken ? LyricsStyle::spoken : LyricsStyle::sung;
            std::printf("%s\n", lyrics_to_phonetic(args->text, style, {"lyrics", 1}, args->notes).c_str());
        } catch (const AuthorError& e) {
            std::fprintf(stderr, "cantilena-tool lyrics: %s\n", e.what());
            throw CLI::RuntimeError(1);
        }
    });
}
