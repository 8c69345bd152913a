#include "app/keyboard.h"

#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <cstdlib>
#include <initializer_list>
#include <unistd.h>

#include "app/main_loop.h"

namespace {

constexpr unsigned char kEscape = 0x1B;
constexpr int kReadChunk = 64;

volatile std::sig_atomic_t g_stop_requested = 0;
// The keyboard whose terminal is in playing mode, for the job-control and
// exit handlers.
Keyboard* volatile g_active = nullptr;

bool in_foreground(int fd)
{
    const pid_t group = tcgetpgrp(fd);
    // Not our controlling terminal (tcgetpgrp fails): nobody else's job either.
    return group == -1 || group == getpgrp();
}

void on_stop_signal(int)
{
    g_stop_requested = 1;
}

void on_suspend(int)
{
    const int saved_errno = errno;
    Keyboard* keyboard = g_active;
    if (keyboard != nullptr && keyboard->changed) tcsetattr(keyboard->fd, TCSANOW, &keyboard->saved);
    std::signal(SIGTSTP, SIG_DFL);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, SIGTSTP);
    pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
    raise(SIGTSTP);
    // Continued: take the terminal again if we are its foreground job.
    std::signal(SIGTSTP, on_suspend);
    if (keyboard != nullptr && keyboard->changed && in_foreground(keyboard->fd)) {
        tcsetattr(keyboard->fd, TCSANOW, &keyboard->playing);
    }
    errno = saved_errno;
}

void restore_at_exit()
{
    Keyboard* keyboard = g_active;
    if (keyboard != nullptr) keyboard_close(*keyboard);
}

}  // namespace

void keyboard_catch_signals()
{
    struct sigaction action{};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(signal_number, &action, nullptr);
}

void keyboard_open(Keyboard& keyboard, int fd)
{
    keyboard.fd = fd;
    keyboard.reading = false;
    keyboard.changed = false;
    keyboard.escape_seen = false;
    if (isatty(fd) == 0 || !in_foreground(fd) || tcgetattr(fd, &keyboard.saved) != 0) return;
    keyboard.playing = keyboard.saved;
    keyboard.playing.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keyboard.playing.c_cc[VMIN] = 0;  // a read returns at once, with what is there
    keyboard.playing.c_cc[VTIME] = 0;
    static bool exit_hook = false;
    if (!exit_hook) {
        std::atexit(restore_at_exit);
        exit_hook = true;
    }
    g_active = &keyboard;
    keyboard.changed = true;  // before the change: a signal in between restores too much rather than too little
    if (tcsetattr(fd, TCSANOW, &keyboard.playing) != 0) {
        keyboard.changed = false;
        g_active = nullptr;
        return;
    }
    std::signal(SIGTSTP, on_suspend);
    keyboard.reading = true;
}

void keyboard_close(Keyboard& keyboard)
{
    if (keyboard.changed) {
        std::signal(SIGTSTP, SIG_DFL);
        tcsetattr(keyboard.fd, TCSANOW, &keyboard.saved);
        keyboard.changed = false;
    }
    keyboard.reading = false;
    if (g_active == &keyboard) g_active = nullptr;
}

int16_t keyboard_escape_state(Keyboard& keyboard)
{
    if (g_stop_requested != 0) keyboard.escape_seen = true;
    if (!keyboard.escape_seen && keyboard.reading) {
        unsigned char bytes[kReadChunk];
        const ssize_t count = read(keyboard.fd, bytes, sizeof bytes);
        for (ssize_t i = 0; i < count; ++i) {
            if (bytes[i] == kEscape) keyboard.escape_seen = true;
        }
    }
    return keyboard.escape_seen ? static_cast<int16_t>(kKeyHeld | kKeyPressed) : 0;
}

bool keyboard_stop_requested()
{
    return g_stop_requested != 0;
}
