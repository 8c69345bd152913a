// The status line of `cantilena-tool play`: state, position / length,
// tempo, busy voices, a peak meter per side and the lyric being sung, or a
// message (a compile error) in place of the meters, cut to the terminal's
// width.
#pragma once

#include <string>

#include "tools/play_session.h"

constexpr int kMeterCells = 10;
constexpr float kMeterFloorDb = -60.0f;  // an empty meter; each cell is 6 dB

// "1:23.4" for a frame count at 44100 Hz.
std::string play_clock(int64_t frames);
// Filled cells of a meter for a peak (full scale 1.0).
int play_meter_cells(float peak);
std::string play_status_line(const PlayStatus& status, int width);
