#include "chThreadTimer.h"

#include "chRuntimeRegistry.h"

chThreadTimer::chThreadTimer() : m_timerId(chRuntimeRegistry::instance().newId()) {}

chThreadTimer::~chThreadTimer()
{
    chRuntimeRegistry::instance().forgetTimer(m_timerId);
}

bool chThreadTimer::SingleShot(int64_t milliseconds, chMessageHandler *handler, chMsgOperation operation)
{
    if (!handler || !operation) {
        return false;
    }
    return chRuntimeRegistry::instance().armTimer(m_timerId, handler->handlerId(), operation, milliseconds,
                                                  false);
}

bool chThreadTimer::SetTimer(int64_t milliseconds, chMessageHandler *handler, chMsgOperation operation)
{
    if (!handler || !operation) {
        return false;
    }
    return chRuntimeRegistry::instance().armTimer(m_timerId, handler->handlerId(), operation, milliseconds,
                                                  true);
}

void chThreadTimer::KillTimer()
{
    chRuntimeRegistry::instance().killTimer(m_timerId);
}

bool chThreadTimer::IsActive() const
{
    return chRuntimeRegistry::instance().timerActive(m_timerId);
}
