// Fixed capacities of the synthesizer and the sample-rate dependent constants
// that the units and effects read.
#pragma once

#include <cstdint>

constexpr int kVoiceCount = 32;
constexpr int kChannelCount = 16;
constexpr int kSpeechChannel = 15;
constexpr int kControllerCount = 7;   // a channel's controllers 1..7
constexpr uint8_t kStreamEnd = 0xFD;  // ends a stream of messages to the engine
constexpr int kMaxBlockSize = 280;    // frames every work buffer holds
constexpr int32_t kSampleRate = 44100;
constexpr int kBlockSize = 128;  // frames per engine block at 44100 Hz

// Per-sample coefficients are tuned at 44100 Hz; these rescale them.
// Computed in double, stored as floats; the defaults are the 44100 Hz values.
struct RateConstants {
    float reference_increment = 12740060.0f;   // phase step of pitch 60 (scale 2^31)
    float rate_ratio = 1.0f;                   // 44100 / rate
    float shelf_sine = 0.021369751542806625f;  // sin(2 pi 150 / rate)
    float shelf_cosine = 0.9997716546058655f;  // cos(2 pi 150 / rate)
    int32_t block_size = kBlockSize;           // frames per control block
};

// A one-pole or state-variable coefficient tuned at 44100 Hz, rescaled to the
// engine's rate. At 44100 Hz its top is 1; above 1 the loops it drives turn
// unstable, so at lower rates it stops there (a NaN reads as the top too).
inline float rate_scaled_coefficient(float at_44100, float rate_ratio)
{
    const float scaled = at_44100 * rate_ratio;
    return scaled < 1.0f ? scaled : 1.0f;
}

// The block size a rate would use: 128 rate / 44100 + 0.5, ties to even.
int32_t rate_block_size(int32_t rate);

// Fills the constants for a rate. Rejects (returns false, leaves the record
// alone) rates that are not positive or whose block would exceed the work buffers.
bool rate_setup(RateConstants& rates, int32_t rate);
