#include <cstdio>

#include "tools/commands.h"

void add_compile_command(CLI::App& app)
{
    auto* cmd = app.add_subcommand("compile", "not built yet");
    cmd->callback([] {
        std::fprintf(stderr, "cantilena-tool compile: not built yet\n");
        throw CLI::RuntimeError(1);
    });
}
