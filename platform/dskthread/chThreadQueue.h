#pragma once

#include "chMessageHandler.h"
#include "msgObject.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

class chThreadLocal;
class chWakeChannel;

// Message number of the record handed to a timer's operation; wParam carries the low bits of the
// timer's id.
constexpr uint32_t CH_TIMER_MESSAGE = 0x8001;

// The runtime's monotonic clock, in steady_clock time plus an offset that tests may advance.
std::chrono::steady_clock::time_point chRuntimeNow();
void chRuntimeAdvanceClock(int64_t milliseconds);

// Queue and timers of one thread object. Any thread may post and arm; only the thread the object is
// attached to (or runs) dispatches.
class chThreadQueue
{
public:
    enum Kind : uint8_t
    {
        ToHandler,
        ToThread,
        Quit
    };

    struct Item
    {
        uint64_t handlerId;
        chMsgOperation operation;
        Kind kind;
        msgObject msg;
    };

    explicit chThreadQueue(chThreadLocal *owner);
    ~chThreadQueue();

    chThreadLocal *owner() const { return m_owner; }
    void *wakeSource() const;
    bool wakeValid() const;

    // Appends; false when the queue is full or has quit. wakeOut receives the channel to wake (after
    // the caller has released its own locks) when this post needs a wake-up.
    bool push(Item &&item, std::shared_ptr<chWakeChannel> &wakeOut);
    bool postQuit();
    // Back to a fresh queue before the object runs or is attached again.
    void resetQuit();
    bool hasQueued() const { return m_count.load(std::memory_order_acquire) != 0; }

    bool armTimer(uint64_t timerId, uint64_t handlerId, chMsgOperation operation, int64_t milliseconds,
                  bool periodic, std::shared_ptr<chWakeChannel> &wakeOut);
    bool killTimer(uint64_t timerId);
    bool timerActive(uint64_t timerId) const;
    void cancelTimersOf(uint64_t handlerId);
    // 0 when a timer is due, negative when none is armed, else milliseconds rounded up.
    int nextTimerTicks() const;

    // The dispatch step behind chThreadLocal::DispatchQueuedMessage.
    int dispatch(int waitMs, int32_t &nextWaitTicks);

    uint32_t limit() const;
    void setLimit(uint32_t limit);

    // Counters for diagnostics and tests.
    uint64_t timersFired() const { return m_timersFired.load(std::memory_order_relaxed); }
    uint64_t messagesDispatched() const { return m_dispatched.load(std::memory_order_relaxed); }
    uint64_t wakeUps() const { return m_wakeUps.load(std::memory_order_relaxed); }

    chThreadQueue(const chThreadQueue &) = delete;
    chThreadQueue &operator=(const chThreadQueue &) = delete;

private:
    using Clock = std::chrono::steady_clock;

    struct TimerRecord
    {
        uint64_t handlerId;
        chMsgOperation operation;
        int64_t intervalMs;
        bool periodic;
        uint64_t generation;
        Clock::time_point deadline;
    };
    struct HeapEntry
    {
        Clock::time_point deadline;
        uint64_t timerId;
        uint64_t generation;
        bool operator>(const HeapEntry &other) const { return deadline > other.deadline; }
    };
    struct DueTimer
    {
        uint64_t timerId;
        uint64_t generation;
    };

    void waitForWork(int waitMs);
    bool workReadyLocked(Clock::time_point now) const;
    void pruneHeapLocked() const;
    int ticksUntilLocked(Clock::time_point now) const;
    void runTimer(const DueTimer &due);
    chMessageHandler *resolve(uint64_t handlerId);
    void finishBatch(std::vector<Item> &batch);
    int32_t computeNextWait();

    chThreadLocal *const m_owner;
    std::shared_ptr<chWakeChannel> m_wake;

    mutable std::mutex m_lock;
    std::vector<Item> m_pending;
    std::vector<Item> m_spare;
    std::atomic<uint32_t> m_count{0};
    std::atomic<bool> m_wakePending{false};
    uint32_t m_limit;
    bool m_overflowed = false;
    bool m_quitRequested = false;
    bool m_quit = false;

    std::unordered_map<uint64_t, TimerRecord> m_timers;
    mutable std::vector<HeapEntry> m_heap;
    uint64_t m_timerGeneration = 0;

    // Touched by the dispatching thread only.
    uint64_t m_cacheGeneration = ~uint64_t(0);
    uint64_t m_cacheId = 0;
    chMessageHandler *m_cacheHandler = nullptr;
    Clock::time_point m_streakStart;
    bool m_inStreak = false;

    std::atomic<uint64_t> m_timersFired{0};
    std::atomic<uint64_t> m_dispatched{0};
    std::atomic<uint64_t> m_wakeUps{0};
};
