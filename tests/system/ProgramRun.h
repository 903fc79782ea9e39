#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// One run of the real program from an installation root, with private HOME and XDG folders, on a
// given display, driven by the test library's actions.
class ProgramRun
{
public:
    ProgramRun(const QString &rootDir, const QString &display);
    ~ProgramRun();

    bool isValid() const { return m_home.isValid(); }
    QString home() const { return m_home.path(); }
    QString configDir() const;
    QString dataDir() const;
    QString outputFile() const;

    // Writes <XDG_CONFIG_HOME>/tarn-desktop/<name>.
    bool writeConfig(const QString &name, const QByteArray &text);
    void setEnv(const QString &key, const QString &value);

    bool start(const QStringList &arguments, const QString &actions);
    // Waits for the process to end; false when it had to be killed.
    bool wait(int ms);
    qint64 pid() const { return m_pid; }
    int exitCode() const { return m_exitCode; }
    bool crashed() const { return m_crashed; }
    QByteArray standardError() const { return m_stderr; }

    // Runs another process of the program with the same folders and waits for it; its exit code,
    // or -1000 when it did not end.
    int runOther(const QStringList &arguments, const QString &actions, qint64 *pid = nullptr);

    // Text ("<tag> <text>") of every log line of the given process, in order.
    QStringList logTexts(qint64 pid) const;
    // The last line of the log file, whatever process wrote it.
    QByteArray lastLogLine() const;
    QByteArray output() const;

    // The environment a process of this run gets (its folders, display and the test library's actions).
    QProcessEnvironment environment(const QString &actions) const;

private:
    QString m_program;
    QString m_display;
    QTemporaryDir m_home;
    QProcess m_process;
    QProcessEnvironment m_extra;
    qint64 m_pid = 0;
    int m_exitCode = -1000;
    bool m_crashed = false;
    QByteArray m_stderr;
};
