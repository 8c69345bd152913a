// Helpers for the speech tests: a speech synthesizer at 44100 frames per
// second and a trace of what its sequencer plays.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "speech/speech.h"

std::unique_ptr<SpeechSynth> make_speech(const char* text0 = nullptr);

struct PlayedSegment {
    int phoneme;  // -1 for a "!" hold, -2 for a "_" hold
    int segment;
    int row;
    int ticks;  // how long it lasted
};

// Ticks until `count` segments or holds have started, releasing every hold at once.
std::vector<PlayedSegment> play_segments(SpeechSynth& speech, size_t count);
// The first `count` phonemes and holds read from the text, by name ("!", "_" for holds).
std::vector<std::string> phonemes_read(const char* text, size_t count);

bool frames_equal(const FormantFrame& a, const FormantFrame& b);
// The frame formant_set_target computes on a fresh synthesizer.
FormantFrame frame_for(int cur_row, int blend_row, float fraction);
