#include <cstdio>

#include "tools/commands.h"

void add_decompile_command(CLI::App& app)
{
    auto* cmd = app.add_subcommand("decompile", "not built yet");
    cmd->callback([] {
        std::fprintf(stderr, "cantilena-tool decompile: not built yet\n");
        throw CLI::RuntimeError(1);
    });
}
