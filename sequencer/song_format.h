// The song image's format: the sizes of its records and the limits that every
// reader and writer of an image holds to (the loader, the validator, the
// scheduler and the tools' image reader and writer). Words are 32-bit
// little-endian (word_from_bytes).
//
// Tracks are stored column by column: the three bytes of every event's
// 24-bit time delta, low byte first, then each value column in turn.
#pragma once

#include <cstddef>
#include <cstdint>

#include "synth/constants.h"

constexpr uint32_t kSongHeaderBytes = 12;  // ticks per quarter, end tick, global event count
constexpr uint32_t kTimeColumns = 3;
constexpr uint32_t kGlobalTempoColumn = 3;  // 4 bytes: microseconds per quarter
constexpr uint32_t kGlobalNumeratorColumn = 7;
constexpr uint32_t kGlobalDenominatorColumn = 8;
constexpr uint32_t kGlobalSubdivisionColumn = 9;
constexpr uint32_t kGlobalEventBytes = 10;
constexpr uint32_t kNoteEventBytes = 5;              // time, note, velocity
constexpr uint32_t kBendEventBytes = 5;              // time, first, second
constexpr uint32_t kValueEventBytes = 4;             // time, value: programs and controllers
constexpr int kControllerTracks = kControllerCount;  // one a controller, 1..7

constexpr int kProgramCount = 128;
constexpr int kSpeechTableSize = 256;
constexpr uint32_t kMaxGlobalBlockBytes = 16384;
constexpr uint32_t kMaxPatchBankBytes = 1048576;
constexpr uint32_t kSpeechBlockLimit = 8192;  // a text block is present when 0 < size < 8192

constexpr uint32_t kMaxEventDelta = 0xFFFFFF;     // a time delta is 24 bits
constexpr uint32_t kLastSongTick = 0xFFFFFFFE;    // 0xFFFFFFFF means "no event" to the scheduler
constexpr uint32_t kTickDivisorScale = 10000;     // the tick divisor is Q x 10000
constexpr uint32_t kMaxTicksPerQuarter = 429496;  // Q x 10000 must fit 32 bits
// A tempo word (microseconds per quarter) x 441 is samples per quarter x 10000 at 44100 Hz.
constexpr uint32_t kTempoScale = 441;
constexpr uint32_t kMaxTempoWord = 9739154;         // x 441 must fit 32 bits
constexpr uint32_t kDefaultTempoWord = 500000;      // before the first tempo event: 120 quarters a minute
constexpr uint64_t kMaxFramesPerGap = 0xFFFFFFFEu;  // the countdown to the next event is 32 bits
constexpr uint8_t kDefaultNumerator = 4;            // the time signature before the first global event
constexpr uint8_t kDefaultDenominator = 4;
constexpr uint8_t kDefaultSubdivision = 8;

// The time delta of an event: t is its byte in the first time column of a
// track of count events.
inline uint32_t song_time_delta(const uint8_t* t, uint32_t count)
{
    return static_cast<uint32_t>(t[0]) | (static_cast<uint32_t>(t[count]) << 8) |
           (static_cast<uint32_t>(t[2 * static_cast<size_t>(count)]) << 16);
}
