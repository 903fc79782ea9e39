#include "CExitAppThread.h"

#include <string>

namespace {
constexpr int64_t kExitTimerMs = 30000;
}

CExitAppThread::CExitAppThread() : chThreadLocal(std::string()), m_exitTimer() {}

CExitAppThread::~CExitAppThread()
{
    // Normally stopped already; if not, the loop must end before this object's parts go away,
    // since it still calls this object's operations.
    Stop();
}

int CExitAppThread::AfterThreadLaunched()
{
    m_exitTimer.SingleShot(kExitTimerMs, this, chMsgOp(&CExitAppThread::onExitTimer));
    return 1;
}

int CExitAppThread::onExitTimer(msgObject &)
{
    return 1;
}
