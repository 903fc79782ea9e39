#pragma once

#include "TestProcess.h"

#include <sys/types.h>

// A TestProcess that runs as another user (a Wayland session cannot run as root): the user is changed
// in the child first, then TestProcess ties the child to the test, as the change of user would undo that.
class SessionProcess : public TestProcess
{
public:
    SessionProcess(uid_t uid, gid_t gid, QObject *parent = nullptr);

protected:
    void setupChildProcess() override;

private:
    uid_t m_uid;
    gid_t m_gid;
};
