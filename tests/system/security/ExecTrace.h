#pragma once

#include <QByteArray>
#include <QList>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

// Every program start (execve) of a process and all its descendants, as strace sees it.
class ExecTrace
{
public:
    struct Call
    {
        qint64 pid = 0;
        QString path;
        QStringList arguments;
    };

    // Runs the program under strace; its exit code, or -1000 when it did not end in time.
    int run(const QString &program, const QStringList &arguments, const QProcessEnvironment &env, int ms);
    QList<Call> calls() const { return m_calls; }
    QString error() const { return m_error; }
    QByteArray text() const { return m_text; }

    // The calls recorded in strace output; each call counts once, finished or not.
    static QList<Call> parse(const QByteArray &text);

private:
    QTemporaryDir m_dir;
    QList<Call> m_calls;
    QString m_error;
    QByteArray m_text;
};
