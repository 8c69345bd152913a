// cantilena-tool: render, inspect, compile and decompile song images.
#include <cstdio>

#include "tools/commands.h"

int main(int argc, char** argv)
{
    CLI::App app{"cantilena-tool: render, inspect, compile, decompile and export Cantilena song images"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "cantilena-tool 0.1");
    add_render_command(app);
    add_events_command(app);
    add_info_command(app);
    add_compile_command(app);
    add_decompile_command(app);
    add_bank_command(app);
    add_lyrics_command(app);
    add_export_command(app);
#ifdef CANTILENA_TOOL_PLAY
    add_play_command(app);
#endif
    try {
        app.parse(argc, argv);
    } catch (const CLI::Error& e) {
        // Failures of a command keep their own code; usage errors give 2.
        const int code = app.exit(e);
        return code == 0 || dynamic_cast<const CLI::RuntimeError*>(&e) ? code : 2;
    }
    return 0;
}
