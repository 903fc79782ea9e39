#include "chThreadQueue.h"

#include "ETLLib.h"
#include "chRuntimeRegistry.h"
#include "chThreadLocal.h"
#include "chWakeChannel.h"
#include "dskthread.h"

#include <algorithm>
#include <functional>
#include <thread>

namespace {

// Handler operations belong to the most derived class and are called through the handler part, which
// for a class like the language handler is its second base. UBSan's vptr check tests the adjusted object
// against the operation's class and reports that well-defined call, so it is left out here.
__attribute__((no_sanitize("vptr"))) int callOperation(chMessageHandler *handler, chMsgOperation operation,
                                                       msgObject &msg)
{
    return (handler->*operation)(msg);
}

std::atomic<int64_t> g_clockOffsetMs{0};

// A dispatcher that has reported "more work now" for this long hands the caller one short pause, so
// a thread that floods another cannot keep the receiving loop from its own events.
constexpr auto kFairnessBudget = std::chrono::milliseconds(100);

constexpr auto kSpinBeforeSleep = std::chrono::microseconds(50);

inline void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

} // namespace

std::chrono::steady_clock::time_point chRuntimeNow()
{
    return std::chrono::steady_clock::now() +
           std::chrono::milliseconds(g_clockOffsetMs.load(std::memory_order_relaxed));
}

void chRuntimeAdvanceClock(int64_t milliseconds)
{
    g_clockOffsetMs.fetch_add(milliseconds, std::memory_order_relaxed);
}

chThreadQueue::chThreadQueue(chThreadLocal *owner)
    : m_owner(owner), m_wake(std::make_shared<chWakeChannel>()), m_limit(CH_QUEUE_LIMIT)
{
}

chThreadQueue::~chThreadQueue() = default;

void *chThreadQueue::wakeSource() const
{
    if (chIsSocketEvent()) {
        return m_wake->readFdPtr();
    }
    return &m_wake->signal();
}

bool chThreadQueue::wakeValid() const
{
    return m_wake->valid();
}

uint32_t chThreadQueue::limit() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_limit;
}

void chThreadQueue::setLimit(uint32_t limit)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_limit = limit;
}

bool chThreadQueue::push(Item &&item, std::shared_ptr<chWakeChannel> &wakeOut)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_quitRequested) {
            return false;
        }
        if (m_pending.size() >= m_limit) {
            if (!m_overflowed) {
                m_overflowed = true;
                etlModuleTrace(4, "W:dskthread",
                               "queue of thread \"%s\" is full (%u messages); refusing messages",
                               m_owner->GetName().c_str(), m_limit);
            }
            return false;
        }
        m_pending.push_back(std::move(item));
        m_count.store(static_cast<uint32_t>(m_pending.size()), std::memory_order_release);
    }
    // Only the first post after the dispatcher took its batch pays for a wake-up.
    if (!m_wakePending.exchange(true, std::memory_order_acq_rel)) {
        wakeOut = m_wake;
    }
    return true;
}

bool chThreadQueue::postQuit()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_quitRequested) {
            return true;
        }
        m_quitRequested = true;
        m_pending.push_back(Item{0, nullptr, Quit, msgObject()});
        m_count.store(static_cast<uint32_t>(m_pending.size()), std::memory_order_release);
    }
    m_wakePending.store(true, std::memory_order_release);
    m_wake->wake();
    return true;
}

void chThreadQueue::resetQuit()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_quitRequested = false;
    m_quit = false;
    m_pending.erase(std::remove_if(m_pending.begin(), m_pending.end(),
                                   [](const Item &item) { return item.kind == Quit; }),
                    m_pending.end());
    m_count.store(static_cast<uint32_t>(m_pending.size()), std::memory_order_release);
}

bool chThreadQueue::armTimer(uint64_t timerId, uint64_t handlerId, chMsgOperation operation,
                             int64_t milliseconds, bool periodic, std::shared_ptr<chWakeChannel> &wakeOut)
{
    if (milliseconds < 0 || (periodic && milliseconds == 0)) {
        return false;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_quitRequested) {
        return false;
    }
    const Clock::time_point deadline = chRuntimeNow() + std::chrono::milliseconds(milliseconds);
    const uint64_t generation = ++m_timerGeneration;
    m_timers[timerId] = TimerRecord{handlerId, operation, milliseconds, periodic, generation, deadline};
    pruneHeapLocked();
    const bool earliest = m_heap.empty() || deadline < m_heap.front().deadline;
    m_heap.push_back(HeapEntry{deadline, timerId, generation});
    std::push_heap(m_heap.begin(), m_heap.end(), std::greater<HeapEntry>());
    // The owning thread may be asleep with a longer wait; a new earliest deadline must reach it.
    if (earliest && chThreadLocal::current() != m_owner) {
        wakeOut = m_wake;
    }
    if (m_heap.size() > 64 && m_heap.size() > 2 * m_timers.size()) {
        std::vector<HeapEntry> live;
        live.reserve(m_timers.size());
        for (const auto &timer : m_timers) {
            live.push_back(HeapEntry{timer.second.deadline, timer.first, timer.second.generation});
        }
        m_heap.swap(live);
        std::make_heap(m_heap.begin(), m_heap.end(), std::greater<HeapEntry>());
    }
    return true;
}

bool chThreadQueue::killTimer(uint64_t timerId)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_timers.erase(timerId) != 0;
}

bool chThreadQueue::timerActive(uint64_t timerId) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_timers.count(timerId) != 0;
}

void chThreadQueue::cancelTimersOf(uint64_t handlerId)
{
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto it = m_timers.begin(); it != m_timers.end();) {
        it = it->second.handlerId == handlerId ? m_timers.erase(it) : std::next(it);
    }
}

void chThreadQueue::pruneHeapLocked() const
{
    while (!m_heap.empty()) {
        const HeapEntry &top = m_heap.front();
        auto it = m_timers.find(top.timerId);
        if (it != m_timers.end() && it->second.generation == top.generation &&
            it->second.deadline == top.deadline) {
            return;
        }
        std::pop_heap(m_heap.begin(), m_heap.end(), std::greater<HeapEntry>());
        m_heap.pop_back();
    }
}

int chThreadQueue::ticksUntilLocked(Clock::time_point now) const
{
    if (m_quit || m_quitRequested) {
        return -1;
    }
    pruneHeapLocked();
    if (m_heap.empty()) {
        return -1;
    }
    const auto left = m_heap.front().deadline - now;
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT32_MAX ? INT32_MAX : static_cast<int>(ms);
}

int chThreadQueue::nextTimerTicks() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return ticksUntilLocked(chRuntimeNow());
}

bool chThreadQueue::workReadyLocked(Clock::time_point now) const
{
    return !m_pending.empty() || m_quit || ticksUntilLocked(now) == 0;
}

void chThreadQueue::waitForWork(int waitMs)
{
    // A reply often arrives within microseconds; catching it before sleeping saves both sides the
    // wake-up. Only worth it where another core can produce meanwhile.
    static const bool spin = std::thread::hardware_concurrency() > 1;
    if (spin) {
        const Clock::time_point spinEnd = Clock::now() + kSpinBeforeSleep;
        do {
            if (m_count.load(std::memory_order_acquire) != 0) {
                return;
            }
            for (int i = 0; i < 16; ++i) {
                cpuRelax();
            }
        } while (Clock::now() < spinEnd);
    }

    const bool unlimited = waitMs < 0;
    const Clock::time_point end = chRuntimeNow() + std::chrono::milliseconds(unlimited ? 0 : waitMs);
    for (;;) {
        int timeout;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            const Clock::time_point now = chRuntimeNow();
            if (workReadyLocked(now)) {
                return;
            }
            // The posters' next wake must reach this wait, so re-open the gate before sleeping.
            m_wakePending.store(false, std::memory_order_release);
            timeout = ticksUntilLocked(now);
            if (!unlimited) {
                if (now >= end) {
                    return;
                }
                const int left =
                    static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(end - now).count());
                timeout = timeout < 0 ? left : std::min(timeout, left);
            }
        }
        if (m_wake->waitForWake(timeout)) {
            m_wakeUps.fetch_add(1, std::memory_order_relaxed);
        }
    }
}

chMessageHandler *chThreadQueue::resolve(uint64_t handlerId)
{
    chRuntimeRegistry &registry = chRuntimeRegistry::instance();
    const uint64_t generation = registry.generation();
    if (generation == m_cacheGeneration && handlerId == m_cacheId) {
        return m_cacheHandler;
    }
    chMessageHandler *handler = registry.resolve(handlerId, this);
    m_cacheGeneration = generation;
    m_cacheId = handlerId;
    m_cacheHandler = handler;
    return handler;
}

void chThreadQueue::runTimer(const DueTimer &due)
{
    uint64_t handlerId;
    chMsgOperation operation;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_timers.find(due.timerId);
        if (it == m_timers.end() || it->second.generation != due.generation) {
            return;
        }
        handlerId = it->second.handlerId;
        operation = it->second.operation;
        if (!it->second.periodic) {
            m_timers.erase(it);
        }
    }
    chMessageHandler *handler = resolve(handlerId);
    if (!handler) {
        return;
    }
    m_timersFired.fetch_add(1, std::memory_order_relaxed);
    msgObject msg(CH_TIMER_MESSAGE, static_cast<uint32_t>(due.timerId));
    if (operation) {
        callOperation(handler, operation, msg);
    } else {
        handler->onThreadMessage(msg);
    }
}

void chThreadQueue::finishBatch(std::vector<Item> &batch)
{
    batch.clear();
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_spare.capacity() < batch.capacity()) {
        m_spare.swap(batch);
    }
}

int32_t chThreadQueue::computeNextWait()
{
    std::lock_guard<std::mutex> guard(m_lock);
    const Clock::time_point now = chRuntimeNow();
    if (m_quit) {
        return -1;
    }
    if (!m_pending.empty()) {
        return 0;
    }
    return ticksUntilLocked(now);
}

int chThreadQueue::dispatch(int waitMs, int32_t &nextWaitTicks)
{
    if (waitMs != 0) {
        waitForWork(waitMs);
    }

    std::vector<Item> batch;
    std::vector<DueTimer> due;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_quit) {
            nextWaitTicks = -1;
            return CH_QUEUE_QUIT;
        }
        // A caller that does not wait here sleeps in a loop of its own on the wake-up source, so posts
        // from here on must wake it again. A caller that waits here re-opens the gate itself right
        // before it sleeps, which spares posters a wake-up while it is busy.
        if (waitMs == 0) {
            m_wakePending.store(false, std::memory_order_release);
        }
        batch.swap(m_spare);
        batch.swap(m_pending);
        m_count.store(0, std::memory_order_release);
        m_overflowed = false;

        const Clock::time_point now = chRuntimeNow();
        std::vector<HeapEntry> rearm;
        for (;;) {
            pruneHeapLocked();
            if (m_heap.empty() || m_heap.front().deadline > now) {
                break;
            }
            const HeapEntry top = m_heap.front();
            std::pop_heap(m_heap.begin(), m_heap.end(), std::greater<HeapEntry>());
            m_heap.pop_back();
            due.push_back(DueTimer{top.timerId, top.generation});
            TimerRecord &record = m_timers[top.timerId];
            if (record.periodic) {
                Clock::time_point next = record.deadline + std::chrono::milliseconds(record.intervalMs);
                if (next <= now) {
                    next = now + std::chrono::milliseconds(record.intervalMs);
                }
                record.deadline = next;
                rearm.push_back(HeapEntry{next, top.timerId, top.generation});
            }
        }
        for (const HeapEntry &entry : rearm) {
            m_heap.push_back(entry);
            std::push_heap(m_heap.begin(), m_heap.end(), std::greater<HeapEntry>());
        }
    }

    uint64_t dispatched = 0;
    for (size_t i = 0; i < batch.size(); ++i) {
        Item &item = batch[i];
        if (item.kind == Quit) {
            {
                std::lock_guard<std::mutex> guard(m_lock);
                m_quit = true;
            }
            m_dispatched.fetch_add(dispatched, std::memory_order_relaxed);
            finishBatch(batch);
            nextWaitTicks = -1;
            return CH_QUEUE_QUIT;
        }
        chMessageHandler *handler = resolve(item.handlerId);
        if (!handler) {
            continue;
        }
        ++dispatched;
        if (item.kind == ToThread) {
            static_cast<chThreadLocal *>(handler)->DefaultDispatchMessage(item.msg);
        } else if (item.operation) {
            callOperation(handler, item.operation, item.msg);
        } else {
            handler->onThreadMessage(item.msg);
        }
    }
    m_dispatched.fetch_add(dispatched, std::memory_order_relaxed);
    finishBatch(batch);

    for (const DueTimer &timer : due) {
        runTimer(timer);
    }

    int32_t next = computeNextWait();
    if (next == 0) {
        const Clock::time_point now = Clock::now();
        if (!m_inStreak) {
            m_inStreak = true;
            m_streakStart = now;
        } else if (now - m_streakStart >= kFairnessBudget) {
            m_inStreak = false;
            next = 1;
        }
    } else {
        m_inStreak = false;
    }
    nextWaitTicks = next;
    return 0;
}
