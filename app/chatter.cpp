#include "app/chatter.h"

#include <fcntl.h>
#include <unistd.h>
#include <cstdarg>
#include <cstdio>

namespace {

int g_user_stderr = -1;  // the user's standard error while it is silenced

}  // namespace

void chatter_silence()
{
    if (g_user_stderr >= 0) return;
    std::fflush(stderr);
    const int kept = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (kept >= 0 && null_fd >= 0 && dup2(null_fd, STDERR_FILENO) >= 0) {
        g_user_stderr = kept;
    } else if (kept >= 0) {
        close(kept);
    }
    if (null_fd >= 0) close(null_fd);
}

void chatter_restore()
{
    if (g_user_stderr < 0) return;
    std::fflush(stderr);
    dup2(g_user_stderr, STDERR_FILENO);
    close(g_user_stderr);
    g_user_stderr = -1;
}

void chatter_report(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vdprintf(g_user_stderr >= 0 ? g_user_stderr : STDERR_FILENO, format, arguments);
    va_end(arguments);
}
