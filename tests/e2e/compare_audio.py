#!/usr/bin/env python3
"""Checks that a recording of the player equals an offline render.

usage: compare_audio.py RECORDING.raw RENDER.wav MIN_SECONDS [RENDER_FROM_SECONDS]

The recording is raw 16-bit little-endian stereo at 44100 Hz; the render a
16-bit WAV file, of which the first RENDER_FROM_SECONDS (0) are dropped. The
two are aligned at their first non-silent frame; from there every sample of
the recording up to its last non-silent frame must equal the render's, and
that stretch must last at least MIN_SECONDS."""
import array
import sys
import wave

RATE = 44100


def first_sound(samples):
    for i, value in enumerate(samples):
        if value != 0:
            return i - i % 2
    return None


def last_sound(samples):
    for i in range(len(samples) - 1, -1, -1):
        if samples[i] != 0:
            return i - i % 2 + 2
    return None


def main():
    recording = array.array("h")
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    recording.frombytes(data[: len(data) - len(data) % 4])
    with wave.open(sys.argv[2], "rb") as w:
        if w.getsampwidth() != 2 or w.getnchannels() != 2 or w.getframerate() != RATE:
            sys.exit("render is not 16-bit stereo at 44100 Hz")
        render = array.array("h")
        render.frombytes(w.readframes(w.getnframes()))
    if len(sys.argv) > 4:
        render = render[2 * int(round(float(sys.argv[4]) * RATE)):]
    if sys.byteorder != "little":
        recording.byteswap()
        render.byteswap()
    min_seconds = float(sys.argv[3])

    start_render = first_sound(render)
    start_recording = first_sound(recording)
    if start_render is None:
        sys.exit("the render is silent")
    if start_recording is None:
        sys.exit("the recording is silent")
    offset = start_recording - start_render
    if offset < 0:
        sys.exit("the recording starts before the render")
    end = last_sound(recording)
    heard = recording[offset:end]
    expected = render[: len(heard)]
    if len(expected) < len(heard):
        sys.exit("the recording is longer than the render")
    if heard != expected:
        for i in range(len(heard)):
            if heard[i] != expected[i]:
                frame = i // 2
                sys.exit("recording differs from the render at frame %d (%.3f s): %d, expected %d"
                         % (frame, frame / RATE, heard[i], expected[i]))
    seconds = len(heard) / 2 / RATE
    print("recording equals the render for %.3f s (starting %.3f s into the recording)"
          % (seconds, offset / 2 / RATE))
    if seconds < min_seconds:
        sys.exit("only %.3f s of the song were heard, expected at least %.1f" % (seconds, min_seconds))


if __name__ == "__main__":
    main()
