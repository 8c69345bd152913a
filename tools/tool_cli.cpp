#include "tools/tool_cli.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kToolName = "cantilena-tool";

bool is_number_type(const std::string& type_name)
{
    const std::string base = type_name.substr(0, type_name.find(':'));
    return base == "INT" || base == "UINT" || base == "FLOAT" || base == "NUMBER";
}

std::vector<CLI::App*> every_command(CLI::App& app)
{
    std::vector<CLI::App*> commands{&app};
    for (size_t i = 0; i < commands.size(); ++i)
        for (CLI::App* sub : commands[i]->get_subcommands([](CLI::App*) { return true; })) commands.push_back(sub);
    return commands;
}

}  // namespace

void cli_hold_standard_streams()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        const int held = ::open("/dev/null", O_RDONLY);
        if (held >= 0 && held != fd) {
            ::dup2(held, fd);
            ::close(held);
        }
    }
}

void cli_refuse_empty_numbers(CLI::App& app)
{
    const CLI::Validator not_empty(
        [](std::string& value) {
            return value.empty() ? std::string("an empty value is not a number") : std::string();
        },
        "", "not empty");
    for (CLI::App* command : every_command(app))
        for (CLI::Option* option : command->get_options())
            if (is_number_type(option->get_type_name())) option->transform(not_empty);  // before any other check
}

bool cli_check_command_name(CLI::App& app, int argc, const char* const* argv)
{
    if (argc < 2 || argv[1][0] == '-') return true;
    std::string names;
    for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
        if (command->check_name(argv[1])) return true;
        names += (names.empty() ? "" : ", ") + command->get_name();
    }
    std::fprintf(stderr, "%s: unknown command '%s'; the commands are %s (--help says what each does)\n", kToolName,
                 argv[1], names.c_str());
    return false;
}

std::string cli_command_name(CLI::App& app)
{
    const std::vector<CLI::App*> given = app.get_subcommands();
    return given.empty() ? kToolName : std::string(kToolName) + " " + given.front()->get_name();
}

bool cli_finish_standard_output(const std::string& who)
{
    errno = 0;
    bool written = std::fflush(stdout) == 0 && !std::ferror(stdout);
    int error = errno;
    if (std::fclose(stdout) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written) return true;
    std::fprintf(stderr, "%s: cannot write to standard output%s%s\n", who.c_str(), error != 0 ? ": " : "",
                 error != 0 ? std::strerror(error) : "");
    return false;
}
