#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "app/main_loop.h"
#include "sequencer/song_end.h"

namespace {

// A scripted platform: the clock moves by each wait's length; the device
// takes frames in every wait unless the script says it is gone; the heard
// position trails the frames taken by the output's buffer.
struct Script {
    int64_t now_ms = 0;
    int64_t heard_ms = -372;  // the position moves only while the device takes frames
    uint32_t frames = 0;
    std::function<bool(int64_t)> device_gone = [](int64_t) { return false; };
    std::function<int16_t(int32_t)> key = [](int32_t) { return int16_t{0}; };
    int32_t key_tests = 0;
    int32_t waits = 0;
    uint32_t longest_wait = 0;
    int32_t end_ms = kPlayerStopMs;
};

MainLoopHost scripted_host(Script& script)
{
    return MainLoopHost{
        &script,
        [](void* context) {
            auto& s = *static_cast<Script*>(context);
            return s.key(s.key_tests++);
        },
        [](void* context, uint32_t ms) {
            auto& s = *static_cast<Script*>(context);
            ++s.waits;
            s.longest_wait = std::max(s.longest_wait, ms);
            s.now_ms += ms;
            if (!s.device_gone(s.now_ms)) {
                s.frames += ms * 441 / 10;
                s.heard_ms += ms;
            }
        },
        [](void* context) { return static_cast<int32_t>(static_cast<Script*>(context)->heard_ms); },
        [](void* context) { return static_cast<Script*>(context)->now_ms; },
        [](void* context) { return static_cast<Script*>(context)->frames; },
        script.end_ms,
    };
}

TEST(StopRule, TheCarriedSongPlaysOnAt197SecondsAndStopsAt198)
{
    for (int32_t ms : {-2000000000, -372, 0, 197000, 197999}) EXPECT_FALSE(main_should_stop(ms, kPlayerStopMs)) << ms;
    for (int32_t ms : {198000, 2000000000}) EXPECT_TRUE(main_should_stop(ms, kPlayerStopMs)) << ms;
}

TEST(StopRule, AMeasuredEndStopsOnceEveryFrameBeforeItWasHeard)
{
    const int32_t end_ms = song_end_ms(44101);  // one frame past a second: 1000.02 ms
    EXPECT_EQ(end_ms, 1001);
    EXPECT_FALSE(main_should_stop(1000, end_ms));
    EXPECT_TRUE(main_should_stop(1001, end_ms));
    EXPECT_EQ(song_end_ms(44100), 1000);
    EXPECT_EQ(song_end_ms(UINT64_MAX), INT32_MAX);
}

TEST(MainLoop, AnAppendedSongEndsAtTheFirstTestAtOrAfterItsEnd)
{
    Script script;
    script.end_ms = 23512;
    EXPECT_EQ(main_loop(scripted_host(script)), MainLoopEnd::stopped);
    EXPECT_GE(script.heard_ms, 23512);
    EXPECT_LT(script.heard_ms, 23512 + static_cast<int64_t>(kMainWaitMs));
}

TEST(MainLoop, SleepsAtMost100MsAtATimeAndEndsAtTheFirstTestAtOrAfter198SecondsHeard)
{
    Script script;
    EXPECT_EQ(main_loop(scripted_host(script)), MainLoopEnd::stopped);
    EXPECT_EQ(script.longest_wait, kMainWaitMs);
    EXPECT_GE(script.heard_ms, 198000);
    EXPECT_LT(script.heard_ms, 198000 + static_cast<int64_t>(kMainWaitMs));
    EXPECT_EQ(script.key_tests, script.waits) << "Esc is tested after every wait";
}

TEST(MainLoop, EscapeHeldAtTheFirstTestEndsBeforeAnyWaitAndALaterPressAtTheNextTest)
{
    Script script;
    script.key = [](int32_t) { return kKeyHeld; };
    EXPECT_EQ(main_loop(scripted_host(script)), MainLoopEnd::stopped);
    EXPECT_EQ(script.waits, 0);

    Script later;
    later.key = [](int32_t test) { return test >= 30 ? static_cast<int16_t>(kKeyHeld | kKeyPressed) : int16_t{0}; };
    EXPECT_EQ(main_loop(scripted_host(later)), MainLoopEnd::stopped);
    EXPECT_EQ(later.waits, 30);
}

TEST(MainLoop, ADeviceThatTakesNothingFor5SecondsIsGivenUpAtTheNextTest)
{
    Script script;
    script.device_gone = [](int64_t now) { return now > 10000; };
    EXPECT_EQ(main_loop(scripted_host(script)), MainLoopEnd::device_lost);
    EXPECT_EQ(script.now_ms, 10000 + kDeviceGiveUpMs);
}

TEST(MainLoop, WallClockTimeWhileTheDeviceIsGoneCountsTowardTheStopPoint)
{
    // Gone twice for 4.5 s (each time back before it is given up): the
    // heard position stands still then, and playback still ends about 198 s
    // after the first frame was heard (each gap is known to a wait's length).
    Script script;
    script.device_gone = [](int64_t now) { return (now > 50000 && now <= 54500) || (now > 120000 && now <= 124500); };
    EXPECT_EQ(main_loop(scripted_host(script)), MainLoopEnd::stopped);
    EXPECT_NEAR(static_cast<double>(script.now_ms - 372), 198000.0, 3.0 * kMainWaitMs);
    EXPECT_LT(script.heard_ms, 198000 - 8000);
}

TEST(DeviceWatch, GapsUpTo2SecondsAreADeviceStartingOrABusyMachineAndDoNotCount)
{
    DeviceWatch watch;
    device_watch_start(watch, 1000, 0);
    EXPECT_EQ(device_watch_gone_ms(watch, 1000 + kDeviceGoneMs), 0);
    device_watch_update(watch, 1000 + kDeviceGoneMs, 1102);
    EXPECT_EQ(device_watch_gone_ms(watch, 1000 + kDeviceGoneMs), 0);
    device_watch_update(watch, 5000, 1102);  // no move: the gap goes on
    EXPECT_EQ(device_watch_gone_ms(watch, 5001), 5001 - (1000 + kDeviceGoneMs));
    EXPECT_FALSE(device_watch_given_up(watch, 1000 + kDeviceGoneMs + kDeviceGiveUpMs - 1));
    EXPECT_TRUE(device_watch_given_up(watch, 1000 + kDeviceGoneMs + kDeviceGiveUpMs));
    device_watch_update(watch, 6000, 2204);  // back: the finished gap is kept
    EXPECT_EQ(device_watch_gone_ms(watch, 6100), 6000 - (1000 + kDeviceGoneMs));
    EXPECT_FALSE(device_watch_given_up(watch, 6100));
}

}  // namespace
