// The formant engine's own helpers; its operations (targets, render, the
// resonator and noise helpers) are declared with the rest of the speech
// synthesizer in speech/speech.h.
#pragma once

#include <cstdint>

#include "speech/speech.h"

// Blends two parameter rows at the fraction (0 gives cur_row, 1 gives
// blend_row) into a frame: seven resonators and the four source gains, with
// every frequency multiplied by the formant scale.
void formant_compute_frame(SpeechSynth& speech, FormantFrame& frame, int32_t cur_row, int32_t blend_row,
                           float fraction);
