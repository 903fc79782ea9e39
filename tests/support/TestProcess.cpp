#include "TestProcess.h"

#include <QElapsedTimer>

#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>

TestProcess::TestProcess(QObject *parent) : QProcess(parent), m_parent(::getpid())
{
    connect(this, &QProcess::started, this, [this] { m_group = processId(); });
}

TestProcess::~TestProcess()
{
    stop();
}

void TestProcess::setupChildProcess()
{
    // Runs in the child between fork and exec.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != static_cast<pid_t>(m_parent)) {
        ::_exit(127);
    }
}

void TestProcess::stop(int graceMs)
{
    const pid_t pid = static_cast<pid_t>(m_group);
    m_group = 0;
    if (pid <= 0) {
        return;
    }
    if (state() == QProcess::NotRunning) {
        // What the leader started may still run in its group.
        ::kill(-pid, SIGKILL);
        return;
    }
    // The group goes too: a program's own helpers must not outlive the test. The group id stays
    // taken until the leader is reaped, so the signal cannot reach a stranger.
    ::kill(-pid, SIGTERM);
    if (!waitForFinished(graceMs)) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        waitForFinished(5000);
    } else {
        ::kill(-pid, SIGKILL);
    }
}

QByteArray TestProcess::readOutputLine(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!canReadLine() && state() != QProcess::NotRunning && clock.elapsed() < ms) {
        waitForReadyRead(qMax<qint64>(1, qMin<qint64>(200, ms - clock.elapsed())));
    }
    return canReadLine() ? readLine().trimmed() : QByteArray();
}

QString TestProcess::outcome(int ms)
{
    if (state() != QProcess::NotRunning && !waitForFinished(ms)) {
        return QStringLiteral("still running");
    }
    if (exitStatus() != QProcess::NormalExit) {
        return QStringLiteral("crash");
    }
    return QStringLiteral("exit %1").arg(exitCode());
}
