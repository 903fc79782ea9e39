#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Waiting on a condition with a deadline instead of sleeping: each returns as soon as the condition
// holds, and false when the deadline passed first. Qt events are processed meanwhile.
class Wait
{
public:
    static bool until(const std::function<bool()> &condition, int ms);
    static bool forFile(const QString &path, int ms);
    // The file exists and holds the text.
    static bool forText(const QString &path, const QByteArray &text, int ms);
    // The process is gone (or a zombie: its parent has not reaped it yet).
    static bool forProcessGone(qint64 pid, int ms);
    static bool processAlive(qint64 pid);
    static QByteArray readFile(const QString &path);
};
