#include <cstdio>
#include <memory>

#include "tools/author_common.h"
#include "tools/commands.h"
#include "tools/starter_bank.h"

namespace {

struct BankArguments {
    bool list = false;
    std::string directory;
    bool force = false;
};

}  // namespace

void add_bank_command(CLI::App& app)
{
    auto args = std::make_shared<BankArguments>();
    auto* cmd = app.add_subcommand("bank", "List the starter bank, or write its patch files as a starting point");
    cmd->add_flag("--list", args->list, "print which patch plays each program and drum key");
    cmd->add_option("--write", args->directory, "write the bank's patch files (YAML) into DIR (created when missing)")
        ->type_name("DIR");
    cmd->add_flag("--force", args->force, "with --write: write into a directory that is not empty, replacing files");
    cmd->footer(
        "A SONG.yaml takes the bank for the programs it maps no patch to: patches: {bank: starter, 33: my-bass.yaml}");
    cmd->callback([args, cmd] {
        if (args->list == !args->directory.empty()) {
            std::fprintf(stderr, "cantilena-tool bank: give one of --list and --write DIR\n%s", cmd->help().c_str());
            throw CLI::RuntimeError(2);
        }
        if (args->list) {
            std::fputs(starter_listing().c_str(), stdout);
            return;
        }
        try {
            starter_write(args->directory, args->force);
        } catch (const AuthorError& e) {
            std::fprintf(stderr, "cantilena-tool bank: %s\n", e.what());
            throw CLI::RuntimeError(1);
        }
    });
}
