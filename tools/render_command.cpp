#include <cstdio>

#include "tools/commands.h"

void add_render_command(CLI::App& app)
{
    auto* cmd = app.add_subcommand("render", "not built yet");
    cmd->callback([] {
        std::fprintf(stderr, "cantilena-tool render: not built yet\n");
        throw CLI::RuntimeError(1);
    });
}
