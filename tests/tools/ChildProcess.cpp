#include "ChildProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <vector>

extern char **environ;

ChildProcess::~ChildProcess()
{
    if (m_pid > 0 && !m_done) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &m_status, 0);
    }
    if (!m_errorFile.isEmpty())
        QFile::remove(m_errorFile);
}

bool ChildProcess::start(const QString &program, const QStringList &arguments,
                         const QStringList &extraEnvironment)
{
    std::vector<QByteArray> storage;
    storage.push_back(program.toLocal8Bit());
    for (const QString &argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);

    std::vector<QByteArray> environmentStorage;
    for (char **entry = environ; *entry != nullptr; ++entry)
        environmentStorage.push_back(*entry);
    for (const QString &entry : extraEnvironment)
        environmentStorage.push_back(entry.toLocal8Bit());
    std::vector<char *> envp;
    for (QByteArray &item : environmentStorage)
        envp.push_back(item.data());
    envp.push_back(nullptr);

    static int counter = 0;
    m_errorFile = QDir::tempPath() + QStringLiteral("/child-stderr-%1-%2").arg(getpid()).arg(++counter);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const QByteArray errorPath = m_errorFile.toLocal8Bit();
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorPath.constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        m_pid = -1;
    return rc == 0;
}

bool ChildProcess::wait(int timeoutMs)
{
    if (m_done)
        return true;
    if (m_pid <= 0)
        return false;
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const pid_t got = waitpid(m_pid, &m_status, WNOHANG);
        if (got == m_pid) {
            m_done = true;
            return true;
        }
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(10);
    }
}

void ChildProcess::signal(int number)
{
    if (m_pid > 0 && !m_done)
        kill(m_pid, number);
}

bool ChildProcess::exitedNormally() const
{
    return m_done && WIFEXITED(m_status);
}

int ChildProcess::exitCode() const
{
    return m_done && WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
}

int ChildProcess::termSignal() const
{
    return m_done && WIFSIGNALED(m_status) ? WTERMSIG(m_status) : 0;
}

QByteArray ChildProcess::standardError() const
{
    QFile file(m_errorFile);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
