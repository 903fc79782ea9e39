#include "CFeedWatchdogClock.h"

CFeedWatchdogClock::CFeedWatchdogClock() : m_previous(0) {}

bool CFeedWatchdogClock::feed(int64_t now)
{
    std::call_once(m_started, [this, now] { m_previous.store(now); });
    const int64_t previous = m_previous.exchange(now);
    int64_t gap = 0;
    if (__builtin_sub_overflow(now, previous, &gap))
        return now > previous;
    return gap > kMaxGapSeconds;
}

CFeedWatchdogClock &CFeedWatchdogClock::processClock()
{
    static CFeedWatchdogClock clock;
    return clock;
}
