#include <cstdio>

#include "tools/commands.h"

void add_events_command(CLI::App& app)
{
    auto* cmd = app.add_subcommand("events", "not built yet");
    cmd->callback([] {
        std::fprintf(stderr, "cantilena-tool events: not built yet\n");
        throw CLI::RuntimeError(1);
    });
}
