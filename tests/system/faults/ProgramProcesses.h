#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class ProgramRun;

// What fault tests need to see around a run of the program: the outside programs it started, its
// markers in the test library's output, and copies of its installation to break.
class ProgramProcesses
{
public:
    // Running procdump and wddmp.exe processes that watch the given process.
    static QList<qint64> watchersOf(qint64 pid);
    // True once none of the given processes is alive any more.
    static bool waitUntilGone(const QList<qint64> &pids, int ms);
    static bool isAlive(qint64 pid);

    // Polls the test library's output until a line equals marker.
    static bool waitForLine(const ProgramRun &run, const QByteArray &marker, int ms);

    // Copies an installation root, leaving out the named top-level entries; the copy is readable by
    // every user so that it can run under another account.
    static bool copyRoot(const QString &from, const QString &to, const QStringList &leaveOut = {});

    // The argument list of a process, or empty when it is gone.
    static QStringList arguments(qint64 pid);
};
