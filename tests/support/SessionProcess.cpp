#include "SessionProcess.h"

#include <grp.h>
#include <unistd.h>

SessionProcess::SessionProcess(uid_t uid, gid_t gid, QObject *parent)
    : TestProcess(parent), m_uid(uid), m_gid(gid)
{
}

void SessionProcess::setupChildProcess()
{
    if (::geteuid() != m_uid && (::setgroups(0, nullptr) != 0 || ::setresgid(m_gid, m_gid, m_gid) != 0 ||
                                 ::setresuid(m_uid, m_uid, m_uid) != 0))
        ::_exit(126);
    TestProcess::setupChildProcess();
}
