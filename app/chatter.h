// The sound libraries print on standard error from any thread at any time
// (ALSA's probing and "underrun occurred" lines, PortAudio's assertion
// lines). While the sound device is in use, standard error points at
// /dev/null, and the program's own lines go to the user's standard error,
// kept aside, so that the user reads only what the program says.
#pragma once

// Points standard error at /dev/null until chatter_restore; safe to call twice.
void chatter_silence();
void chatter_restore();
// One of the program's own lines, formatted as printf does, to the user's
// standard error (silenced or not).
void chatter_report(const char* format, ...) __attribute__((format(printf, 1, 2)));
