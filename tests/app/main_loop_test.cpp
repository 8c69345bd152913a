#include <gtest/gtest.h>

#include <functional>

#include "app/main_loop.h"

namespace {

// A scripted platform: the clock moves one millisecond a sleep, the heard
// position trails it by the output's buffer, and the key states come from
// a function of the test's number (0, 1, 2, ...).
struct Script {
    int32_t start_ms = -372;
    std::function<int16_t(int32_t)> key = [](int32_t) { return int16_t{0}; };
    int32_t sleeps = 0;
    int32_t wakes = 0;
    int32_t key_tests = 0;
    int32_t position_tests = 0;
    bool woken_after_each_sleep = true;
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
            EXPECT_EQ(ms, 1u);
            if (s.wakes != s.sleeps) s.woken_after_each_sleep = false;
            ++s.sleeps;
        },
        [](void* context) { ++static_cast<Script*>(context)->wakes; },
        [](void* context) {
            auto& s = *static_cast<Script*>(context);
            ++s.position_tests;
            return s.start_ms + s.sleeps;
        },
    };
}

TEST(StopRule, 197_seconds_play_on_and_198_seconds_stop)
{
    for (int32_t ms : {-2000000000, -372, 0, 197000, 197999}) EXPECT_FALSE(main_should_stop(ms)) << ms;
    for (int32_t ms : {198000, 2000000000}) EXPECT_TRUE(main_should_stop(ms)) << ms;
}

TEST(MainLoop, ends_at_the_first_position_test_at_or_after_198_seconds)
{
    Script script;
    script.start_ms = 0;
    EXPECT_EQ(main_loop(scripted_host(script)), 0);
    // 314 passes of 630 ms reach 197.82 s; the 315th ends at 198.45 s.
    EXPECT_EQ(script.position_tests, 315);
    EXPECT_EQ(script.sleeps, 315 * 630);
    EXPECT_EQ(script.wakes, script.sleeps);
    EXPECT_TRUE(script.woken_after_each_sleep);
}

TEST(MainLoop, escape_held_at_the_first_test_ends_before_any_wait)
{
    Script script;
    script.key = [](int32_t) { return kKeyHeld; };
    EXPECT_EQ(main_loop(scripted_host(script)), 0);
    EXPECT_EQ(script.sleeps, 0);
    EXPECT_EQ(script.position_tests, 0);
}

TEST(MainLoop, escape_tapped_and_released_cuts_the_wait_short_but_plays_on)
{
    Script script;
    // Test 0 is the first outer test; 1..630 the first pass's inner tests.
    script.key = [](int32_t test) {
        if (test == 10) return kKeyPressed;  // tapped during the tenth wait
        if (test == 800) return static_cast<int16_t>(kKeyHeld | kKeyPressed);
        if (test == 801) return kKeyHeld;
        return int16_t{0};
    };
    EXPECT_EQ(main_loop(scripted_host(script)), 0);
    // First pass: 10 waits, then the position test; the outer test (11)
    // finds Esc released. Second pass: 630 waits (tests 12..641). Third
    // pass: from test 643 to the press at 800, then held at the outer test.
    EXPECT_EQ(script.position_tests, 3);
    EXPECT_EQ(script.sleeps, 10 + 630 + (800 - 642));
    EXPECT_EQ(script.key_tests, 802);
}

TEST(MainLoop, the_negative_position_right_after_the_start_does_not_stop)
{
    Script script;
    script.start_ms = -372;
    script.key = [](int32_t test) { return test >= 5000 ? kKeyHeld : int16_t{0}; };
    main_loop(scripted_host(script));
    EXPECT_GT(script.position_tests, 1);
}

}  // namespace
