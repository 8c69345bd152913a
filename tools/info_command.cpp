#include <cstdio>

#include "tools/commands.h"

void add_info_command(CLI::App& app)
{
    auto* cmd = app.add_subcommand("info", "not built yet");
    cmd->callback([] {
        std::fprintf(stderr, "cantilena-tool info: not built yet\n");
        throw CLI::RuntimeError(1);
    });
}
