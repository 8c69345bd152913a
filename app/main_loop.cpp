#include "app/main_loop.h"

#include "sequencer/song_end.h"

// The stop rule first holds at the player's stop point.
static_assert(static_cast<int32_t>((kPlayerStopSeconds - 1) / kStopStepSeconds) <= kStopSteps &&
              static_cast<int32_t>(kPlayerStopSeconds / kStopStepSeconds) > kStopSteps);

bool main_should_stop(int32_t ms)
{
    const int32_t seconds = ms / 1000;
    // Truncation toward zero whatever the rounding mode: a cast, not nearest().
    const int32_t steps = static_cast<int32_t>(static_cast<double>(seconds) / kStopStepSeconds);
    return steps > kStopSteps;
}

int32_t main_loop(const MainLoopHost& host)
{
    while (host.escape_state(host.context) >= 0) {
        for (int32_t round = 0; round < kWaitRounds; ++round) {
            host.sleep_ms(host.context, kWaitRoundMs);
            host.wake(host.context);
            if (host.escape_state(host.context) != 0) break;
        }
        if (main_should_stop(host.position_ms(host.context))) break;
    }
    return 0;
}
