#pragma once

#include "chThreadLocal.h"
#include "chThreadTimer.h"

// A message thread that lives only while the application exits.
class CExitAppThread : public chThreadLocal
{
public:
    CExitAppThread();
    ~CExitAppThread() override;

    int AfterThreadLaunched() override;
    int onExitTimer(msgObject &msg);

private:
    chThreadTimer m_exitTimer;
};
