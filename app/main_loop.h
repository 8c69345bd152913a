// The player's wait loop: after start-up the main thread only wakes the
// audio worker every millisecond, tests the Esc key and, after every 630
// rounds (or at once when a key test saw Esc), tests the heard position
// against the stop point of 198 seconds.
#pragma once

#include <cstdint>

constexpr int32_t kWaitRounds = 630;
constexpr uint32_t kWaitRoundMs = 1;
// Playback stops once (whole seconds heard / 2.5), truncated, passes this:
// first at 198 s.
constexpr int32_t kStopSteps = 78;
constexpr double kStopStepSeconds = 2.5;

// Esc's key state: bit 15 (the sign) set while it is held down, bit 0 set
// when it was pressed since the last test.
constexpr int16_t kKeyHeld = static_cast<int16_t>(0x8000);
constexpr int16_t kKeyPressed = 0x0001;

// What the loop needs from the platform and the player; tests script them.
struct MainLoopHost {
    void* context;
    int16_t (*escape_state)(void* context);
    void (*sleep_ms)(void* context, uint32_t ms);
    void (*wake)(void* context);
    int32_t (*position_ms)(void* context);
};

// True when a heard position of ms milliseconds ends playback.
bool main_should_stop(int32_t ms);
// Runs until Esc is held at an outer test or the stop point has passed;
// returns 0.
int32_t main_loop(const MainLoopHost& host);
