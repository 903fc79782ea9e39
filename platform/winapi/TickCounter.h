#pragma once

#include <atomic>
#include <cstdint>

// The millisecond tick count, kept in memory the way the system counter it stands in for is: a
// reader pays one load while a timer thread advances the value every period. A burst of reads starts
// the thread; it stops after a fixed number of periods and the next burst starts it again, so readers
// never write and a process that reads the counter now and then gets the monotonic clock itself and
// has no periodic wake-ups.
class TickCounter
{
public:
    static constexpr uint32_t kPeriodMs = 10;
    // Periods the thread runs after it was started or woken.
    static constexpr uint32_t kRunPeriods = 10;
    // Direct clock reads after which the timer thread is started or woken.
    static constexpr uint32_t kBurstReads = 64;

    static uint32_t read()
    {
        if (s_shared.state.load(std::memory_order_acquire) == Running) {
            return s_shared.tick.load(std::memory_order_relaxed);
        }
        return readSlow();
    }

    // The monotonic clock in milliseconds, read directly.
    static uint32_t clockNow();
    // True while the timer thread keeps the value.
    static bool advancing() { return s_shared.state.load(std::memory_order_acquire) == Running; }

private:
    enum State : uint32_t
    {
        NoThread = 0,
        Parked = 1,
        Running = 2
    };

    struct alignas(64) Shared
    {
        std::atomic<uint32_t> state{NoThread};
        std::atomic<uint32_t> tick{0};
        std::atomic<uint32_t> directReads{0};
    };

    static uint32_t readSlow();
    static bool startThread();
    static void *run(void *);
    static void resetInChild();

    static Shared s_shared;
};
