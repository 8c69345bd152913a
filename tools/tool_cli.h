// What every cantilena-tool command shares about its command line and its
// standard streams.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

// A standard stream closed when the tool starts would be taken by the first
// file it opens, and standard output would then write into that file: each
// closed one is held by /dev/null opened for reading, so that writing to a
// closed standard output fails as it should.
void cli_hold_standard_streams();

// Every numeric option of every command refuses an empty value, which the
// parser would otherwise read as 0 (--seconds '').
void cli_refuse_empty_numbers(CLI::App& app);

// False, after naming it and the commands there are on stderr, when the first
// argument is no command (and no option).
bool cli_check_command_name(CLI::App& app, int argc, const char* const* argv);

// "cantilena-tool render" for the command given, else "cantilena-tool".
std::string cli_command_name(CLI::App& app);

// Flushes and closes standard output: false, after saying why on stderr
// ("WHO: cannot write to standard output: ..."), when what was printed did
// not all reach it.
bool cli_finish_standard_output(const std::string& who);
