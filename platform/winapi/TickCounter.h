#pragma once

#include <atomic>
#include <cstdint>

// The millisecond tick count, kept in memory the way the system counter it stands in for is: a
// reader pays one load while a timer thread advances the value every period. A burst of reads starts
// the thread; it stops after a fixed number of periods and the next burst starts it again. Reads
// spread out more thinly than a burst, as an idle program's are, read the monotonic clock themselves
// and cause no periodic wake-ups.
//
// Every store into the shared value is a maximum, so it never moves back: a reader that stores a
// clock value it read a while ago cannot undo a newer one, and no thread sees the count go back.
class TickCounter
{
public:
    static constexpr uint32_t kPeriodMs = 10;
    // Periods the thread runs after it was started or woken.
    static constexpr uint32_t kRunPeriods = 10;
    // Direct clock reads within one period that start or wake the timer thread.
    static constexpr uint32_t kBurstReads = 64;

    static uint32_t read()
    {
        if (s_shared.state.load(std::memory_order_acquire) == Running) {
            return static_cast<uint32_t>(s_shared.tick.load(std::memory_order_relaxed));
        }
        return readSlow();
    }

    // The monotonic clock in milliseconds, read directly.
    static uint32_t clockNow();
    // True while the timer thread keeps the value.
    static bool advancing() { return s_shared.state.load(std::memory_order_acquire) == Running; }

    // Milliseconds of a monotonic clock, 64 bits. Tests stand in a clock that returns late, as a reader
    // preempted right after its clock read does; null restores the real one.
    using ClockSource = uint64_t (*)();
    static ClockSource setClockSourceForTesting(ClockSource source);

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
        std::atomic<uint32_t> directReads{0};
        // 64 bits, so the maximum is a plain comparison; readers use the low 32.
        std::atomic<uint64_t> tick{0};
        std::atomic<uint64_t> burstStart{0};
    };
    static_assert(std::atomic<uint64_t>::is_always_lock_free, "a tick read must be one load");

    static uint64_t clockMilliseconds();
    static void advanceTo(uint64_t milliseconds);
    static uint32_t readSlow();
    static bool startThread();
    static void *run(void *);
    static void resetInChild();

    static Shared s_shared;
};
