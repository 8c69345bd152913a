// Esc from the terminal. While playing, the terminal is in non-canonical,
// no-echo mode and read without waiting; a 0x1B byte means Esc was pressed.
// A terminal reports no key releases, so once seen Esc counts as held down
// from then on. When the input is not a terminal (or the player runs in the
// background) no key is read and the terminal is left alone.
//
// SIGINT, SIGTERM, SIGHUP and SIGQUIT end playback cleanly: they read as Esc
// held. Ctrl-Z puts the terminal back while the player is stopped.
#pragma once

#include <cstdint>
#include <termios.h>

struct Keyboard {
    int fd;
    bool reading;      // keys are read from fd
    bool changed;      // the terminal's settings were changed and must be put back
    bool escape_seen;
    termios saved;
    termios playing;
};

// Installs the handlers for the signals that end playback.
void keyboard_catch_signals();
// Takes the terminal on fd (usually 0) into non-canonical no-echo mode.
void keyboard_open(Keyboard& keyboard, int fd);
// Puts the terminal's settings back as they were; safe to call twice.
void keyboard_close(Keyboard& keyboard);
// Esc's key state (main_loop.h): held once Esc was read or a stop signal came.
int16_t keyboard_escape_state(Keyboard& keyboard);
// True once a signal asked playback to end.
bool keyboard_stop_requested();
