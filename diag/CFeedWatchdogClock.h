#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

// Tells from the heartbeat ticks whether the GUI thread stalled: a tick that comes more than
// kMaxGapSeconds after the previous one.
class CFeedWatchdogClock
{
public:
    static constexpr int64_t kMaxGapSeconds = 5;

    CFeedWatchdogClock();

    // Records a tick at `now` (seconds since 1970). True when the gap since the previous tick exceeds
    // kMaxGapSeconds; the first tick and a clock set back never count as a gap.
    bool feed(int64_t now);

    // The one clock the heartbeat of this process feeds.
    static CFeedWatchdogClock &processClock();

    CFeedWatchdogClock(const CFeedWatchdogClock &) = delete;
    CFeedWatchdogClock &operator=(const CFeedWatchdogClock &) = delete;

private:
    std::once_flag m_started;
    std::atomic<int64_t> m_previous;
};
