#pragma once

#include "chMessageHandler.h"

#include <cstdint>

// A timer that calls a handler operation on the handler's thread.
class chThreadTimer
{
public:
    chThreadTimer();
    ~chThreadTimer();

    bool SingleShot(int64_t milliseconds, chMessageHandler *handler, chMsgOperation operation);
    bool SetTimer(int64_t milliseconds, chMessageHandler *handler, chMsgOperation operation);
    void KillTimer();
    bool IsActive() const;

    chThreadTimer(const chThreadTimer &) = delete;
    chThreadTimer &operator=(const chThreadTimer &) = delete;

private:
    uint64_t m_timerId;
};
