#pragma once

#include "chSignal.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

// How a thread object is woken when work arrives for it. Shared between the queue and any poster
// that is about to wake it, so a wake never touches a queue that was destroyed in between.
class chWakeChannel
{
public:
    chWakeChannel();
    ~chWakeChannel();

    bool valid() const;
    // Socket mode: the read end of the wake-up socket; -1 in signal mode.
    int readFd() const { return m_fds[0]; }
    int *readFdPtr() { return &m_fds[0]; }
    chSignal &signal() { return m_signal; }

    // Never blocks: a full socket already means a wake is pending.
    void wake();

    // For a thread that runs its own loop: waits until woken or until timeoutMs passes (negative:
    // no limit). Returns true when woken.
    bool waitForWake(int timeoutMs);
    // Discards wake-up bytes already consumed by the caller's own check of the queue.
    void drain();

    chWakeChannel(const chWakeChannel &) = delete;
    chWakeChannel &operator=(const chWakeChannel &) = delete;

private:
    int m_fds[2];
    chSignal m_signal;
    std::mutex m_kickLock;
    std::condition_variable m_kick;
    uint64_t m_kicks = 0;
    uint64_t m_seenKicks = 0;
};
