#include "PrivateDesktop.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <vector>

namespace {

std::vector<QByteArray> toArgv(const QString &program, const QStringList &arguments)
{
    std::vector<QByteArray> args;
    args.push_back(program.toLocal8Bit());
    for (const QString &argument : arguments) {
        args.push_back(argument.toLocal8Bit());
    }
    return args;
}

pid_t forkExec(const std::vector<QByteArray> &args, int keepFd, int stdoutFd)
{
    std::vector<char *> argv;
    for (const QByteArray &arg : args) {
        argv.push_back(const_cast<char *>(arg.constData()));
    }
    argv.push_back(nullptr);

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        // A test that crashes must not leave its X server or tray host behind.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            _exit(127);
        }
        const int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, STDIN_FILENO);
        dup2(stdoutFd >= 0 ? stdoutFd : devNull, STDOUT_FILENO);
        if (qEnvironmentVariableIsEmpty("TARN_TEST_VERBOSE")) {
            dup2(devNull, STDERR_FILENO);
        }
        if (keepFd >= 0) {
            fcntl(keepFd, F_SETFD, 0);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

} // namespace

PrivateDesktop::~PrivateDesktop()
{
    for (auto it = m_children.rbegin(); it != m_children.rend(); ++it) {
        kill(*it, SIGTERM);
    }
    for (auto it = m_children.rbegin(); it != m_children.rend(); ++it) {
        QElapsedTimer clock;
        clock.start();
        while (waitpid(*it, nullptr, WNOHANG) == 0) {
            if (clock.elapsed() > 3000) {
                kill(*it, SIGKILL);
                waitpid(*it, nullptr, 0);
                break;
            }
            usleep(10000);
        }
    }
}

pid_t PrivateDesktop::spawn(const QString &program, const QStringList &arguments, const QString &outputFile)
{
    int out = -1;
    if (!outputFile.isEmpty()) {
        out = open(QFile::encodeName(outputFile).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    }
    const pid_t pid = forkExec(toArgv(program, arguments), -1, out);
    if (out >= 0) {
        close(out);
    }
    if (pid > 0) {
        m_children.push_back(pid);
    } else {
        m_error = QStringLiteral("cannot start %1").arg(program);
    }
    return pid;
}

pid_t PrivateDesktop::spawnReadingLine(const QString &program, QStringList arguments,
                                       const QString &fdPlaceholder, QByteArray *line)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        m_error = QStringLiteral("pipe failed");
        return -1;
    }
    arguments.replaceInStrings(fdPlaceholder, QString::number(fds[1]));
    const pid_t pid = forkExec(toArgv(program, arguments), fds[1], -1);
    close(fds[1]);
    if (pid <= 0) {
        close(fds[0]);
        m_error = QStringLiteral("cannot start %1").arg(program);
        return -1;
    }
    m_children.push_back(pid);

    QElapsedTimer clock;
    clock.start();
    line->clear();
    while (!line->endsWith('\n') && clock.elapsed() < 10000) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            continue;
        }
        char buffer[256];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        line->append(buffer, int(n));
    }
    close(fds[0]);
    if (!line->endsWith('\n')) {
        m_error = QStringLiteral("%1 did not report").arg(program);
        return -1;
    }
    *line = line->trimmed();
    return pid;
}

bool PrivateDesktop::startDisplay()
{
    QByteArray number;
    if (spawnReadingLine("Xvfb", {"-displayfd", "@FD@", "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
                         "@FD@", &number) <= 0) {
        return false;
    }
    m_display = QStringLiteral(":") + QString::fromLatin1(number);
    qputenv("DISPLAY", m_display.toLatin1());
    return true;
}

bool PrivateDesktop::startTrayHost()
{
    // Icons shown before the host has mapped its panel may never be docked: wait for the panel. A host
    // that does not come up is replaced, a few times at most.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const pid_t pid = spawn("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request",
                                           "--height", "32", "--SetDockType", "true"});
        if (pid <= 0) {
            return false;
        }
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000 && waitpid(pid, nullptr, WNOHANG) == 0) {
            QByteArray tree;
            if (FILE *pipe = popen("xwininfo -root -tree 2>/dev/null", "r")) {
                char buffer[4096];
                size_t n;
                while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
                    tree.append(buffer, int(n));
                }
                pclose(pipe);
            }
            if (tree.contains("\"panel\": (\"panel\" \"trayer\")")) {
                usleep(200000);
                return true;
            }
            usleep(50000);
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        m_children.erase(std::remove(m_children.begin(), m_children.end(), pid), m_children.end());
    }
    m_error = QStringLiteral("the tray host did not map its panel");
    return false;
}

bool PrivateDesktop::startSessionBus()
{
    QByteArray address;
    if (spawnReadingLine("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=@FD@"},
                         "@FD@", &address) <= 0) {
        return false;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    return true;
}

void PrivateDesktop::blockSessionBus()
{
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tarn-test-no-bus");
}
