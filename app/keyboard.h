// Keys from the terminal. While playing, the terminal is in non-canonical,
// no-echo mode and read without waiting. Keys that are not plain characters
// arrive as escape sequences (an arrow is ESC [ C), so a 0x1B byte is the
// Esc key only when nothing that continues a sequence follows it at once.
// When the input is not a terminal (or the player runs in the background)
// no key is read and the terminal is left alone.
//
// SIGINT, SIGTERM, SIGHUP and SIGQUIT end playback cleanly: they read as the
// quit key, and they cut short any keyboard_wait. Ctrl-Z puts the terminal
// back while the player is stopped.
#pragma once

#include <termios.h>
#include <cstdint>

// Key::quit is a stop signal (and the end of the input), not a key.
enum class Key : uint8_t { none, escape, quit, letter_q, space, left, right, up, down, home, end, other };

// Turns terminal bytes into keys: ESC [ params final and ESC O final are
// one key each; ESC followed by anything else is Esc, then that byte.
struct KeyDecoder {
    uint8_t state;      // where in a sequence the last byte left it
    uint8_t parameter;  // the first number of a CSI sequence (Home is ESC [ 1 ~)
};

constexpr uint32_t kEscapeSequenceMs = 25;  // how long a lone ESC waits for the rest of a sequence
constexpr int kKeyboardBufferBytes = 64;

struct Keyboard {
    int fd;
    bool reading;      // keys are read from fd
    bool changed;      // the terminal's settings were changed and must be put back
    bool escape_seen;  // Esc or a stop signal came (the player's escape state)
    termios saved;
    termios playing;
    KeyDecoder decoder;
    unsigned char pending[kKeyboardBufferBytes];  // read but not yet decoded
    int pending_count;
    int pending_next;
};

// Feeds one byte; returns the key it completes, or Key::none while a
// sequence goes on. An escape byte that interrupts a sequence ends it.
Key key_decode(KeyDecoder& decoder, unsigned char byte);
// The input stopped inside a sequence: a lone ESC is Esc, anything else of
// an unfinished sequence is dropped.
Key key_decode_flush(KeyDecoder& decoder);

// Installs the handlers for the signals that end playback and the pipe they
// write to, which keyboard_wait watches.
void keyboard_catch_signals();
// Takes the terminal on fd (usually 0) into non-canonical no-echo mode.
void keyboard_open(Keyboard& keyboard, int fd);
// Puts the terminal's settings back as they were; safe to call twice.
void keyboard_close(Keyboard& keyboard);
// Waits until a key can be read, a stop signal comes or ms pass.
void keyboard_wait(Keyboard& keyboard, uint32_t ms);
// The next key typed, without waiting (except kEscapeSequenceMs after a
// lone ESC); Key::quit once a stop signal came; Key::none when there is none.
Key keyboard_read_key(Keyboard& keyboard);
// Esc's key state (main_loop.h): held once Esc was read or a stop signal
// came; other keys are read and ignored.
int16_t keyboard_escape_state(Keyboard& keyboard);
// True once a signal asked playback to end.
bool keyboard_stop_requested();
