#include "SessionEndWatcher.h"

#include "ETLLib.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

const char *const kTraceTag = "N:Demo";

// Read by the handler: a lock-free atomic is safe there, a member of an object is not.
std::atomic<int> g_writeEnd{-1};

void onSessionEndSignal(int signalNumber)
{
    const int savedErrno = errno;
    const int fd = g_writeEnd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        // The pipe does not block: when it is full, earlier signals are still waiting to be read.
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        const ssize_t written = ::write(fd, &byte, 1);
        (void)written;
    }
    errno = savedErrno;
}

} // namespace

const int SessionEndWatcher::kSignals[3] = {SIGTERM, SIGHUP, SIGINT};

SessionEndWatcher::SessionEndWatcher(QObject *parent) : QObject(parent)
{
    std::memset(m_previous, 0, sizeof(m_previous));
}

SessionEndWatcher::~SessionEndWatcher()
{
    uninstall();
}

void SessionEndWatcher::ignoreBrokenPipe()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
}

bool SessionEndWatcher::install()
{
    if (m_notifier) {
        return true;
    }
    if (::pipe2(m_pipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        etlModuleTrace(4, "W:Demo", "session-end signals not caught: pipe: %s", strerror(errno));
        m_pipe[0] = m_pipe[1] = -1;
        return false;
    }
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SessionEndWatcher::readSignals);
    // A quit from the tray or another instance ends the loop as well; a signal after that finds the
    // shutdown already running.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
            [this]() { m_ending = true; });
    g_writeEnd.store(m_pipe[1], std::memory_order_relaxed);

    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = onSessionEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) {
        struct sigaction current;
        if (sigaction(kSignals[i], nullptr, &current) != 0 || current.sa_handler == SIG_IGN) {
            continue;
        }
        m_caught[i] = sigaction(kSignals[i], &action, &m_previous[i]) == 0;
    }
    return true;
}

void SessionEndWatcher::uninstall()
{
    // Once the program is ending, a further request to end has nothing left to do: it is ignored until the
    // process is gone rather than cutting the last steps of the exit short.
    struct sigaction ignore;
    std::memset(&ignore, 0, sizeof(ignore));
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (int i = 0; i < 3; ++i) {
        if (m_caught[i]) {
            sigaction(kSignals[i], m_ending ? &ignore : &m_previous[i], nullptr);
            m_caught[i] = false;
        }
    }
    g_writeEnd.store(-1, std::memory_order_relaxed);
    delete m_notifier;
    m_notifier = nullptr;
    for (int &fd : m_pipe) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

void SessionEndWatcher::readSignals()
{
    unsigned char received[64];
    int first = 0;
    ssize_t got;
    while ((got = ::read(m_pipe[0], received, sizeof(received))) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0 && first == 0) {
            first = received[0];
        }
    }
    if (first == 0) {
        return;
    }
    if (m_ending) {
        etlModuleTrace(5, kTraceTag, "signal %d ignored: the program is already ending", first);
        return;
    }
    m_ending = true;
    etlModuleTrace(5, kTraceTag, "quit on signal %d (%s)", first, strsignal(first));
    quitWhenLoopRuns();
}

void SessionEndWatcher::quitWhenLoopRuns()
{
    // A quit while no event loop runs (events handled during bring-up) would be lost: wait for the loop.
    if (QThread::currentThread()->loopLevel() > 0) {
        QCoreApplication::quit();
    } else {
        QTimer::singleShot(0, this, &SessionEndWatcher::quitWhenLoopRuns);
    }
}
