#pragma once

#include <QStringList>

#include <sys/types.h>

// A program started without a shell, waited for with a time limit; its raw wait status is kept.
class ChildProcess
{
public:
    ChildProcess() = default;
    ~ChildProcess();

    bool start(const QString &program, const QStringList &arguments,
               const QStringList &extraEnvironment = {});
    // False when the program is still running after `timeoutMs`.
    bool wait(int timeoutMs);
    void signal(int number);

    pid_t pid() const { return m_pid; }
    bool exitedNormally() const;
    int exitCode() const;
    int termSignal() const;
    QByteArray standardError() const;

    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

private:
    pid_t m_pid = -1;
    int m_status = 0;
    bool m_done = false;
    QString m_errorFile;
};
