#include "app/keyboard.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <initializer_list>

#include "app/main_loop.h"

namespace {

constexpr unsigned char kEscape = 0x1B;
constexpr uint8_t kParameterCap = 99;  // larger numbers name no key we know

// kInCsiLater: past the first parameter of a CSI sequence (ESC [ 1 ; 5 C is
// Ctrl with Right, still Right).
enum DecoderState : uint8_t { kGround, kAfterEscape, kInCsi, kInCsiLater, kInSs3 };

volatile std::sig_atomic_t g_stop_requested = 0;
// The stop handler writes a byte here so that a wait on the read end ends.
int g_signal_pipe[2] = {-1, -1};
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
    const int saved_errno = errno;
    g_stop_requested = 1;
    if (g_signal_pipe[1] >= 0) {
        const unsigned char byte = 1;
        [[maybe_unused]] const ssize_t written = write(g_signal_pipe[1], &byte, 1);
    }
    errno = saved_errno;
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

Key final_key(unsigned char final, uint8_t parameter)
{
    switch (final) {
    case 'A':
        return Key::up;
    case 'B':
        return Key::down;
    case 'C':
        return Key::right;
    case 'D':
        return Key::left;
    case 'H':
        return Key::home;
    case 'F':
        return Key::end;
    case '~':
        // The numbered forms of Home and End that terminals send.
        if (parameter == 1 || parameter == 7) return Key::home;
        if (parameter == 4 || parameter == 8) return Key::end;
        return Key::other;
    default:
        return Key::other;
    }
}

void drain_signal_pipe()
{
    unsigned char scratch[16];
    while (g_signal_pipe[0] >= 0 && read(g_signal_pipe[0], scratch, sizeof scratch) > 0) {
    }
}

// Waits up to ms for the terminal to have bytes; false on a time-out. A
// terminal that hung up is read no more.
bool input_ready(Keyboard& keyboard, int ms)
{
    pollfd watched{keyboard.fd, POLLIN, 0};
    if (poll(&watched, 1, ms) <= 0) return false;
    if ((watched.revents & POLLIN) != 0) return true;
    keyboard.reading = false;
    return false;
}

}  // namespace

Key key_decode(KeyDecoder& decoder, unsigned char byte)
{
    switch (decoder.state) {
    case kAfterEscape:
        if (byte == '[') {
            decoder.state = kInCsi;
            decoder.parameter = 0;
            return Key::none;
        }
        if (byte == 'O') {
            decoder.state = kInSs3;
            return Key::none;
        }
        // Esc pressed twice, or Alt with a key: either way Esc.
        decoder.state = byte == kEscape ? kAfterEscape : kGround;
        return Key::escape;
    case kInCsi:
    case kInCsiLater:
        if (byte == kEscape) {
            decoder.state = kAfterEscape;
            return Key::none;
        }
        if (byte >= '0' && byte <= '9' && decoder.state == kInCsi) {
            const uint32_t value = decoder.parameter * 10u + (byte - '0');
            decoder.parameter = static_cast<uint8_t>(value < kParameterCap ? value : kParameterCap);
            return Key::none;
        }
        if (byte >= 0x20 && byte <= 0x3F) {
            // Separators and further parameters: the first number decides.
            decoder.state = kInCsiLater;
            return Key::none;
        }
        decoder.state = kGround;
        return byte >= 0x40 && byte <= 0x7E ? final_key(byte, decoder.parameter) : Key::other;
    case kInSs3:
        if (byte == kEscape) {
            decoder.state = kAfterEscape;
            return Key::none;
        }
        decoder.state = kGround;
        return final_key(byte, 0);
    default:
        break;
    }
    if (byte == kEscape) {
        decoder.state = kAfterEscape;
        return Key::none;
    }
    if (byte == ' ') return Key::space;
    if (byte == 'q' || byte == 'Q') return Key::letter_q;
    return Key::other;
}

Key key_decode_flush(KeyDecoder& decoder)
{
    const bool lone_escape = decoder.state == kAfterEscape;
    decoder.state = kGround;
    return lone_escape ? Key::escape : Key::none;
}

void keyboard_catch_signals()
{
    if (g_signal_pipe[0] < 0 && pipe2(g_signal_pipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        g_signal_pipe[0] = g_signal_pipe[1] = -1;  // signals still stop playback, at the next time-out
    }
    struct sigaction action {};
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
    keyboard.decoder = KeyDecoder{};
    keyboard.pending_count = 0;
    keyboard.pending_next = 0;
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

void keyboard_wait(Keyboard& keyboard, uint32_t ms)
{
    if (g_stop_requested != 0 || keyboard.pending_next < keyboard.pending_count) return;
    pollfd watched[2] = {{g_signal_pipe[0], POLLIN, 0}, {keyboard.fd, POLLIN, 0}};
    const nfds_t count = keyboard.reading ? 2 : 1;
    if (poll(watched, count, static_cast<int>(ms)) > 0) {
        drain_signal_pipe();
        if (count == 2 && (watched[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 &&
            (watched[1].revents & POLLIN) == 0) {
            keyboard.reading = false;
        }
    }
}

Key keyboard_read_key(Keyboard& keyboard)
{
    if (g_stop_requested != 0) return Key::quit;
    while (keyboard.reading) {
        while (keyboard.pending_next < keyboard.pending_count) {
            const Key key = key_decode(keyboard.decoder, keyboard.pending[keyboard.pending_next++]);
            if (key != Key::none) return key;
        }
        const ssize_t count = read(keyboard.fd, keyboard.pending, sizeof keyboard.pending);
        if (count > 0) {
            keyboard.pending_count = static_cast<int>(count);
            keyboard.pending_next = 0;
            continue;
        }
        // Nothing more now: a sequence that began waits briefly for its rest.
        if (keyboard.decoder.state != kGround && input_ready(keyboard, static_cast<int>(kEscapeSequenceMs))) {
            continue;
        }
        return key_decode_flush(keyboard.decoder);
    }
    return Key::none;
}

int16_t keyboard_escape_state(Keyboard& keyboard)
{
    while (!keyboard.escape_seen) {
        const Key key = keyboard_read_key(keyboard);
        if (key == Key::none) break;
        if (key == Key::escape || key == Key::quit) keyboard.escape_seen = true;
    }
    return keyboard.escape_seen ? static_cast<int16_t>(kKeyHeld | kKeyPressed) : 0;
}

bool keyboard_stop_requested()
{
    return g_stop_requested != 0;
}
