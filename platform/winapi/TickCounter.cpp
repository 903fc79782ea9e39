#include "TickCounter.h"

#include <linux/futex.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

TickCounter::Shared TickCounter::s_shared;

namespace {
void futexWait(std::atomic<uint32_t> *word, uint32_t expected)
{
    syscall(SYS_futex, reinterpret_cast<uint32_t *>(word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void futexWake(std::atomic<uint32_t> *word)
{
    syscall(SYS_futex, reinterpret_cast<uint32_t *>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

pthread_once_t g_forkHandler = PTHREAD_ONCE_INIT;
std::atomic<TickCounter::ClockSource> g_clockSource{nullptr};

uint64_t monotonicMilliseconds()
{
    // The coarse clock steps every few milliseconds, like the counter it stands in for.
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}
} // namespace

uint32_t TickCounter::clockNow()
{
    return static_cast<uint32_t>(monotonicMilliseconds());
}

TickCounter::ClockSource TickCounter::setClockSourceForTesting(ClockSource source)
{
    return g_clockSource.exchange(source);
}

uint64_t TickCounter::clockMilliseconds()
{
    const ClockSource source = g_clockSource.load(std::memory_order_relaxed);
    return source ? source() : monotonicMilliseconds();
}

void TickCounter::advanceTo(uint64_t milliseconds)
{
    uint64_t current = s_shared.tick.load(std::memory_order_relaxed);
    while (current < milliseconds &&
           !s_shared.tick.compare_exchange_weak(current, milliseconds, std::memory_order_relaxed)) {
    }
}

uint32_t TickCounter::readSlow()
{
    const uint64_t now = clockMilliseconds();
    // Stored before this reader can see the thread running, so its own next read is never older.
    advanceTo(now);

    // A burst is kBurstReads direct reads within one period. Concurrent readers may lose an increment
    // or restart the count; that only delays the start a little.
    const uint64_t burstStart = s_shared.burstStart.load(std::memory_order_relaxed);
    if (now - burstStart >= kPeriodMs) {
        s_shared.burstStart.store(now, std::memory_order_relaxed);
        s_shared.directReads.store(1, std::memory_order_relaxed);
        return static_cast<uint32_t>(now);
    }
    const uint32_t reads = s_shared.directReads.load(std::memory_order_relaxed) + 1;
    if (reads < kBurstReads) {
        s_shared.directReads.store(reads, std::memory_order_relaxed);
        return static_cast<uint32_t>(now);
    }
    s_shared.directReads.store(0, std::memory_order_relaxed);

    // The fresh value above is published by the release of the state change.
    uint32_t state = s_shared.state.load(std::memory_order_acquire);
    if (state == Parked) {
        if (s_shared.state.compare_exchange_strong(state, Running, std::memory_order_acq_rel)) {
            futexWake(&s_shared.state);
        }
    } else if (state == NoThread) {
        if (s_shared.state.compare_exchange_strong(state, Running, std::memory_order_acq_rel) &&
            !startThread()) {
            // Without the thread every read stays a direct clock read.
            s_shared.state.store(NoThread, std::memory_order_release);
        }
    }
    return static_cast<uint32_t>(now);
}

bool TickCounter::startThread()
{
    pthread_once(&g_forkHandler, [] { pthread_atfork(nullptr, nullptr, &TickCounter::resetInChild); });

    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        return false;
    }
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attributes, 64 * 1024);

    // Signals meant for the process must never land on this thread.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_t thread;
    const int created = pthread_create(&thread, &attributes, &TickCounter::run, nullptr);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    pthread_attr_destroy(&attributes);
    if (created != 0) {
        return false;
    }
    pthread_setname_np(thread, "tick-counter");
    return true;
}

void *TickCounter::run(void *)
{
    const struct timespec period = {0, static_cast<long>(kPeriodMs) * 1000000L};
    for (;;) {
        for (uint32_t n = 0; n < kRunPeriods; ++n) {
            struct timespec left = period;
            while (clock_nanosleep(CLOCK_MONOTONIC, 0, &left, &left) == EINTR) {
            }
            advanceTo(clockMilliseconds());
        }
        // Stop until the next burst of reads; readers meanwhile read the clock themselves.
        s_shared.state.store(Parked, std::memory_order_release);
        while (s_shared.state.load(std::memory_order_acquire) == Parked) {
            futexWait(&s_shared.state, Parked);
        }
    }
    return nullptr;
}

void TickCounter::resetInChild()
{
    // The child has no timer thread; a value nobody advances would stand still.
    s_shared.state.store(NoThread, std::memory_order_relaxed);
    s_shared.directReads.store(0, std::memory_order_relaxed);
    s_shared.burstStart.store(0, std::memory_order_relaxed);
}
