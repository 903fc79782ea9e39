#include "ProgramProcesses.h"

#include "ProgramRun.h"
#include "Wait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>

QStringList ProgramProcesses::arguments(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QStringList result;
    for (const QByteArray &part : file.readAll().split('\0')) {
        result << QString::fromLocal8Bit(part);
    }
    // The command line ends with a NUL, which leaves one empty part behind.
    if (!result.isEmpty() && result.last().isEmpty()) {
        result.removeLast();
    }
    return result;
}

QList<qint64> ProgramProcesses::watchersOf(qint64 pid)
{
    const QString target = QString::number(pid);
    QList<qint64> result;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isNumber = false;
        const qint64 candidate = entry.toLongLong(&isNumber);
        if (!isNumber) {
            continue;
        }
        const QStringList args = arguments(candidate);
        if (args.isEmpty()) {
            continue;
        }
        const QString name = QFileInfo(args.first()).fileName();
        if (name != QLatin1String("procdump") && name != QLatin1String("wddmp.exe")) {
            continue;
        }
        const int at = args.indexOf(QStringLiteral("-e"));
        const bool dumpTool = name == QLatin1String("procdump") && at > 0 && args.value(at + 1) == target;
        const bool watchdog = name == QLatin1String("wddmp.exe") && args.value(1) == target;
        if (dumpTool || watchdog) {
            result << candidate;
        }
    }
    return result;
}

bool ProgramProcesses::isAlive(qint64 pid)
{
    return Wait::processAlive(pid);
}

bool ProgramProcesses::waitUntilGone(const QList<qint64> &pids, int ms)
{
    return Wait::until([&pids] { return std::none_of(pids.begin(), pids.end(), &Wait::processAlive); }, ms);
}

bool ProgramProcesses::waitForLine(const ProgramRun &run, const QByteArray &marker, int ms)
{
    return Wait::until([&] { return run.output().split('\n').contains(marker); }, ms);
}

bool ProgramProcesses::copyRoot(const QString &from, const QString &to, const QStringList &leaveOut)
{
    const QStringList entries = QDir(from).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    QStringList sources;
    for (const QString &entry : entries) {
        if (!leaveOut.contains(entry)) {
            sources << from + QLatin1Char('/') + entry;
        }
    }
    QProcess cp;
    cp.start(QStringLiteral("cp"), QStringList{QStringLiteral("-a")} + sources + QStringList{to});
    if (!cp.waitForFinished(60000) || cp.exitCode() != 0) {
        return false;
    }
    return QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                         QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                         QFile::ExeOther);
}
