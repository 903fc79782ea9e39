#include "ProgramRun.h"

#include <QDir>
#include <QFile>

ProgramRun::ProgramRun(const QString &rootDir, const QString &display)
    : m_program(rootDir + QStringLiteral("/tarn-desktop")), m_display(display)
{
    if (m_home.isValid()) {
        QDir home(m_home.path());
        home.mkpath(QStringLiteral("config/tarn-desktop"));
        home.mkpath(QStringLiteral("data"));
        home.mkpath(QStringLiteral("run"));
        QFile::setPermissions(m_home.filePath(QStringLiteral("run")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

ProgramRun::~ProgramRun()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString ProgramRun::configDir() const
{
    return m_home.filePath(QStringLiteral("config"));
}

QString ProgramRun::dataDir() const
{
    return m_home.filePath(QStringLiteral("data"));
}

QString ProgramRun::outputFile() const
{
    return m_home.filePath(QStringLiteral("testability.out"));
}

bool ProgramRun::writeConfig(const QString &name, const QByteArray &text)
{
    QFile file(configDir() + QStringLiteral("/tarn-desktop/") + name);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

void ProgramRun::setEnv(const QString &key, const QString &value)
{
    m_extra.insert(key, value);
}

QProcessEnvironment ProgramRun::environment(const QString &actions) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir());
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataDir());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("run")));
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("TARN_TESTABILITY_ACTION"), actions);
    env.insert(QStringLiteral("TARN_TESTABILITY_OUT"), outputFile());
    env.remove(QStringLiteral("TARN_SYSTEMX86_DIR"));
    env.insert(m_extra);
    return env;
}

bool ProgramRun::start(const QStringList &arguments, const QString &actions)
{
    m_process.setProcessEnvironment(environment(actions));
    m_process.setProgram(m_program);
    m_process.setArguments(arguments);
    m_process.start();
    if (!m_process.waitForStarted(10000)) {
        return false;
    }
    m_pid = m_process.processId();
    return true;
}

bool ProgramRun::wait(int ms)
{
    if (!m_process.waitForFinished(ms)) {
        m_process.kill();
        m_process.waitForFinished(5000);
        m_stderr = m_process.readAllStandardError();
        return false;
    }
    m_crashed = m_process.exitStatus() != QProcess::NormalExit;
    m_exitCode = m_process.exitCode();
    m_stderr = m_process.readAllStandardError();
    return true;
}

int ProgramRun::runOther(const QStringList &arguments, const QString &actions, qint64 *pid)
{
    QProcess other;
    other.setProcessEnvironment(environment(actions));
    other.start(m_program, arguments);
    if (!other.waitForStarted(10000)) {
        return -1000;
    }
    if (pid) {
        *pid = other.processId();
    }
    if (!other.waitForFinished(30000)) {
        other.kill();
        other.waitForFinished(5000);
        return -1000;
    }
    return other.exitStatus() == QProcess::NormalExit ? other.exitCode() : -1000;
}

static QList<QByteArray> logLines(const QString &dataDir)
{
    QFile file(dataDir + QStringLiteral("/tarn-desktop/log/tarn-desktop.log"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll().split('\n');
}

QStringList ProgramRun::logTexts(qint64 pid) const
{
    // "<date> <time> <pid>:<tid> <tag> <text>"
    const QByteArray marker = ' ' + QByteArray::number(pid) + ':';
    QStringList texts;
    for (const QByteArray &line : logLines(dataDir())) {
        const int at = line.indexOf(marker);
        if (at < 0) {
            continue;
        }
        const int textStart = line.indexOf(' ', at + 1);
        if (textStart > 0) {
            texts << QString::fromUtf8(line.mid(textStart + 1));
        }
    }
    return texts;
}

QByteArray ProgramRun::lastLogLine() const
{
    QList<QByteArray> lines = logLines(dataDir());
    while (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    return lines.isEmpty() ? QByteArray() : lines.last();
}

QByteArray ProgramRun::output() const
{
    QFile file(outputFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
