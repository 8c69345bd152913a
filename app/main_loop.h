// The player's wait loop: after start-up the main thread sleeps until a key,
// a stop signal or at most 100 ms have passed, then tests the Esc key, the
// sound device's health and the heard position against the song's end: the
// stop point of 198 seconds for the song the player was built with, the end
// export measured for an appended one. The refill worker runs on its own:
// the device wakes it.
#pragma once

#include <cstdint>

constexpr uint32_t kMainWaitMs = 100;

// Esc's key state: bit 15 (the sign) set while it is held down, bit 0 set
// when it was pressed since the last test.
constexpr int16_t kKeyHeld = static_cast<int16_t>(0x8000);
constexpr int16_t kKeyPressed = 0x0001;

// A device that has taken no frames for this long is gone: from then on the
// wall-clock time counts toward the stop point in place of the heard
// position, which stands still.
constexpr int64_t kDeviceGoneMs = 2000;
// A device gone this long is given up.
constexpr int64_t kDeviceGiveUpMs = 5000;

// Watches the count of frames the device has taken.
struct DeviceWatch {
    uint32_t frames_taken;
    int64_t last_move_ms;  // the clock when the count last moved
    int64_t gone_ms;       // wall-clock time of the finished gaps longer than kDeviceGoneMs
};

void device_watch_start(DeviceWatch& watch, int64_t now_ms, uint32_t frames_taken);
void device_watch_update(DeviceWatch& watch, int64_t now_ms, uint32_t frames_taken);
// Wall-clock milliseconds the device has been gone, the gap in progress included.
int64_t device_watch_gone_ms(const DeviceWatch& watch, int64_t now_ms);
// True when the device has taken nothing for kDeviceGiveUpMs.
bool device_watch_given_up(const DeviceWatch& watch, int64_t now_ms);

// What the loop needs from the platform and the player; tests script them.
struct MainLoopHost {
    void* context;
    int16_t (*escape_state)(void* context);
    // Returns when a key may have come, a stop signal came or ms have passed.
    void (*wait_ms)(void* context, uint32_t ms);
    int32_t (*position_ms)(void* context);
    int64_t (*clock_ms)(void* context);       // a monotonic wall clock
    uint32_t (*frames_taken)(void* context);  // the device's count of frames taken
    int32_t end_ms;                           // the heard position at which playback ends
};

enum class MainLoopEnd { stopped, device_lost };

// True when a heard position of ms milliseconds ends playback that ends at end_ms.
bool main_should_stop(int32_t ms, int32_t end_ms);
// Runs until Esc is held, the stop point has passed (the heard position plus
// the time the device was gone) or the device has been gone for
// kDeviceGiveUpMs.
MainLoopEnd main_loop(const MainLoopHost& host);
