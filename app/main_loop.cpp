#include "app/main_loop.h"

void device_watch_start(DeviceWatch& watch, int64_t now_ms, uint32_t frames_taken)
{
    watch.frames_taken = frames_taken;
    watch.last_move_ms = now_ms;
    watch.gone_ms = 0;
}

void device_watch_update(DeviceWatch& watch, int64_t now_ms, uint32_t frames_taken)
{
    if (frames_taken == watch.frames_taken) return;
    const int64_t gap = now_ms - watch.last_move_ms;
    if (gap > kDeviceGoneMs) watch.gone_ms += gap;
    watch.frames_taken = frames_taken;
    watch.last_move_ms = now_ms;
}

int64_t device_watch_gone_ms(const DeviceWatch& watch, int64_t now_ms)
{
    const int64_t gap = now_ms - watch.last_move_ms;
    return watch.gone_ms + (gap > kDeviceGoneMs ? gap : 0);
}

bool device_watch_given_up(const DeviceWatch& watch, int64_t now_ms)
{
    return now_ms - watch.last_move_ms >= kDeviceGiveUpMs;
}

bool main_should_stop(int32_t ms, int32_t end_ms)
{
    return ms >= end_ms;
}

MainLoopEnd main_loop(const MainLoopHost& host)
{
    DeviceWatch watch;
    device_watch_start(watch, host.clock_ms(host.context), host.frames_taken(host.context));
    while (host.escape_state(host.context) >= 0) {
        host.wait_ms(host.context, kMainWaitMs);
        const int64_t now = host.clock_ms(host.context);
        device_watch_update(watch, now, host.frames_taken(host.context));
        if (device_watch_given_up(watch, now)) return MainLoopEnd::device_lost;
        const int64_t heard = host.position_ms(host.context) + device_watch_gone_ms(watch, now);
        if (main_should_stop(heard > INT32_MAX ? INT32_MAX : static_cast<int32_t>(heard), host.end_ms)) break;
    }
    return MainLoopEnd::stopped;
}
