#include "ProgramRun.h"

#include "SessionBus.h"
#include "Wait.h"

ProgramRun::ProgramRun(const QString &rootDir, const QString &display)
    : m_program(rootDir + QStringLiteral("/tarn-desktop")), m_display(display),
      m_bus(SessionBus::disabledAddress())
{
}

ProgramRun::~ProgramRun()
{
    m_process.stop(5000);
}

QString ProgramRun::outputFile() const
{
    return m_home.path(QStringLiteral("testability.out"));
}

void ProgramRun::setEnv(const QString &key, const QString &value)
{
    m_extra.insert(key, value);
}

QProcessEnvironment ProgramRun::environment(const QString &actions, const QString &outputFile) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    m_home.applyTo(&env);
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus);
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("TARN_SYSTEMX86_DIR"));
    env.remove(QStringLiteral("TARN_TESTABILITY_ACTION"));
    if (!actions.isEmpty()) {
        env.insert(QStringLiteral("TARN_TESTABILITY_ACTION"), actions);
    }
    env.insert(QStringLiteral("TARN_TESTABILITY_OUT"),
               outputFile.isEmpty() ? this->outputFile() : outputFile);
    env.insert(m_extra);
    return env;
}

bool ProgramRun::start(const QStringList &arguments, const QString &actions)
{
    if (!startOther(&m_process, arguments, actions)) {
        return false;
    }
    m_pid = m_process.processId();
    return true;
}

bool ProgramRun::startOther(TestProcess *process, const QStringList &arguments, const QString &actions,
                            const QString &outputFile) const
{
    process->setProcessEnvironment(environment(actions, outputFile));
    process->setProgram(m_program);
    process->setArguments(arguments);
    process->start();
    return process->waitForStarted(10000);
}

bool ProgramRun::wait(int ms)
{
    if (!m_process.waitForFinished(ms)) {
        m_process.stop(0);
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
    TestProcess other;
    if (!startOther(&other, arguments, actions)) {
        return -1000;
    }
    if (pid) {
        *pid = other.processId();
    }
    if (!other.waitForFinished(30000)) {
        return -1000;
    }
    return other.exitStatus() == QProcess::NormalExit ? other.exitCode() : -1000;
}

QByteArray ProgramRun::log() const
{
    return Wait::readFile(m_home.logFile());
}

bool ProgramRun::waitForLog(const QByteArray &text, int ms) const
{
    return Wait::forText(m_home.logFile(), text, ms);
}

QStringList ProgramRun::logTexts(qint64 pid) const
{
    // "<date> <time> <pid>:<tid> <tag> <text>"
    const QByteArray marker = ' ' + QByteArray::number(pid) + ':';
    QStringList texts;
    for (const QByteArray &line : log().split('\n')) {
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
    QList<QByteArray> lines = log().split('\n');
    while (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    return lines.isEmpty() ? QByteArray() : lines.last();
}

QByteArray ProgramRun::output() const
{
    return Wait::readFile(outputFile());
}

bool ProgramRun::waitForOutput(const QByteArray &text, int ms) const
{
    return Wait::forText(outputFile(), text, ms);
}
