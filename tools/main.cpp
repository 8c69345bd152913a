// cantilena-tool: render, inspect, compile and decompile song images.
#include <cstdio>
#include <exception>
#include <new>

#include "tools/commands.h"
#include "tools/tool_cli.h"

int main(int argc, char** argv)
{
    cli_hold_standard_streams();
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
    cli_refuse_empty_numbers(app);
    int status = 0;
    try {
        if (!cli_check_command_name(app, argc, argv)) return 2;
        app.parse(argc, argv);
    } catch (const CLI::Error& e) {
        // Failures of a command keep their own code; usage errors give 2.
        const int code = app.exit(e);
        status = code == 0 || dynamic_cast<const CLI::RuntimeError*>(&e) ? code : 2;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", cli_command_name(app).c_str());
        status = 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", cli_command_name(app).c_str(), e.what());
        status = 1;
    }
    if (!cli_finish_standard_output(cli_command_name(app)) && status == 0) status = 1;
    return status;
}
