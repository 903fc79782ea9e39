#pragma once

#include <QProcess>

// A process a test starts: it runs in its own process group, dies with the test even when the test
// crashes (PR_SET_PDEATHSIG), and is ended with everything it started and reaped when the object goes.
class TestProcess : public QProcess
{
public:
    explicit TestProcess(QObject *parent = nullptr);
    ~TestProcess() override;

    // Ends the whole process group: a polite signal first, then SIGKILL after graceMs.
    void stop(int graceMs = 3000);

    // Reads standard output until one whole line has come; empty when none came within ms.
    QByteArray readOutputLine(int ms);

    // "exit <code>", "crash" or "still running" once ms have passed: a comparable outcome that says
    // what went wrong.
    QString outcome(int ms);

protected:
    void setupChildProcess() override;

private:
    qint64 m_parent = 0;
    qint64 m_group = 0;
};
