#pragma once

#include "PrivateHome.h"
#include "TestProcess.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QStringList>

// Runs of the real program from an installation root, with a private home, on a given display, driven
// by the test library's actions. Without setSessionBus() the program gets no D-Bus session at all.
class ProgramRun
{
public:
    ProgramRun(const QString &rootDir, const QString &display);
    ~ProgramRun();

    bool isValid() const { return m_home.isValid(); }
    const PrivateHome &privateHome() const { return m_home; }
    QString home() const { return m_home.path(); }
    QString configDir() const { return m_home.configDir(); }
    QString dataDir() const { return m_home.dataDir(); }
    QString outputFile() const;

    // Writes <XDG_CONFIG_HOME>/tarn-desktop/<name>.
    bool writeConfig(const QString &name, const QByteArray &text) { return m_home.writeConfig(name, text); }
    void setEnv(const QString &key, const QString &value);
    void setSessionBus(const QString &address) { m_bus = address; }

    bool start(const QStringList &arguments, const QString &actions);
    // Waits for the process to end; false when it had to be killed.
    bool wait(int ms);
    qint64 pid() const { return m_pid; }
    int exitCode() const { return m_exitCode; }
    bool crashed() const { return m_crashed; }
    QByteArray standardError() const { return m_stderr; }
    TestProcess &process() { return m_process; }

    // Starts another process of the program with the same folders; its test-library output goes to
    // outputFile when given.
    bool startOther(TestProcess *process, const QStringList &arguments, const QString &actions,
                    const QString &outputFile = QString()) const;
    // Runs another process of the program and waits for it; its exit code, or -1000 when it did not
    // end or crashed.
    int runOther(const QStringList &arguments, const QString &actions, qint64 *pid = nullptr);

    // Text ("<tag> <text>") of every log line of the given process, in order.
    QStringList logTexts(qint64 pid) const;
    // The last line of the log file, whatever process wrote it.
    QByteArray lastLogLine() const;
    QByteArray log() const;
    bool waitForLog(const QByteArray &text, int ms) const;
    QByteArray output() const;
    bool waitForOutput(const QByteArray &text, int ms) const;

    // The environment a process of this run gets (its folders, display, bus and the test library's
    // actions).
    QProcessEnvironment environment(const QString &actions, const QString &outputFile = QString()) const;

    ProgramRun(const ProgramRun &) = delete;
    ProgramRun &operator=(const ProgramRun &) = delete;

private:
    QString m_program;
    QString m_display;
    QString m_bus;
    PrivateHome m_home;
    TestProcess m_process;
    QProcessEnvironment m_extra;
    qint64 m_pid = 0;
    int m_exitCode = -1000;
    bool m_crashed = false;
    QByteArray m_stderr;
};
