#include "Wait.h"

#include <QFile>
#include <QTest>

#include <cerrno>
#include <csignal>

bool Wait::until(const std::function<bool()> &condition, int ms)
{
    // One last look after the deadline: a condition that became true meanwhile still counts.
    return QTest::qWaitFor(condition, ms) || condition();
}

bool Wait::forFile(const QString &path, int ms)
{
    return until([&] { return QFile::exists(path); }, ms);
}

bool Wait::forText(const QString &path, const QByteArray &text, int ms)
{
    return until([&] { return readFile(path).contains(text); }, ms);
}

bool Wait::processAlive(qint64 pid)
{
    if (pid <= 0) {
        return false;
    }
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
        return false;
    }
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return false;
    }
    // "<pid> (<name>) <state> ...": the name may hold spaces and parentheses.
    const QByteArray line = stat.readAll();
    const int close = line.lastIndexOf(')');
    return close < 0 || line.mid(close + 2, 1) != "Z";
}

bool Wait::forProcessGone(qint64 pid, int ms)
{
    return until([pid] { return !processAlive(pid); }, ms);
}

QByteArray Wait::readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
