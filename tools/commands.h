// The subcommands of cantilena-tool, each registered on the main CLI11 app.
#pragma once

#include <CLI/CLI.hpp>

void add_render_command(CLI::App& app);
void add_events_command(CLI::App& app);
void add_info_command(CLI::App& app);
void add_compile_command(CLI::App& app);
void add_decompile_command(CLI::App& app);
void add_bank_command(CLI::App& app);
void add_lyrics_command(CLI::App& app);
void add_export_command(CLI::App& app);
// Built only with the player (it needs the sound device).
void add_play_command(CLI::App& app);
