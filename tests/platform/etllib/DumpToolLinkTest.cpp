#include "DumpToolLink.h"

#include "CrashNotice.h"
#include "ETLLib.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

// Plays the dump tool: a listening socket at `path`.
int listenAt(const std::string &path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 ||
        listen(fd, 4) != 0)
        return -1;
    return fd;
}

bool readable(int fd, int timeoutMs)
{
    pollfd ready = {fd, POLLIN, 0};
    return poll(&ready, 1, timeoutMs) == 1;
}

enum class Answer
{
    Done,
    Nothing,
    HangUp
};

} // namespace

class DumpToolLinkTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    std::string path(const char *name) const
    {
        return (m_dir.path() + QLatin1Char('/') + name).toStdString();
    }

    // A child with the crash hook links to our listener and fails with SIGSEGV; we read its report
    // and answer as `answer` says. Returns the child's wait status and how long it took to die.
    int failingChild(Answer answer, CrashNotice *notice, qint64 *diedAfterMs)
    {
        const std::string socketPath = path(answer == Answer::Done      ? "done"
                                            : answer == Answer::Nothing ? "quiet"
                                                                        : "gone");
        const int listener = listenAt(socketPath);
        if (listener < 0)
            return -1;
        const pid_t child = fork();
        if (child == 0) {
            struct rlimit noCore = {0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            setenv("TARN_DUMP_WAIT_SECONDS", "2", 1);
            etlHookCrashSignal();
            std::string why;
            if (DumpToolLink::connect(socketPath, &why) != DumpToolLink::Attempt::Connected)
                _exit(3);
            void *page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            volatile uintptr_t address = reinterpret_cast<uintptr_t>(page);
            *reinterpret_cast<volatile int *>(address) = 1;
            _exit(4);
        }
        const int peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        close(listener);
        unlink(socketPath.c_str());
        QElapsedTimer clock;
        if (peer >= 0) {
            if (answer == Answer::HangUp) {
                close(peer);
            } else if (readable(peer, 20000) &&
                       recv(peer, notice, sizeof(*notice), MSG_WAITALL) == sizeof(*notice)) {
                clock.start();
                if (answer == Answer::Done) {
                    const char done = CrashNotice::kDone;
                    send(peer, &done, 1, MSG_NOSIGNAL);
                }
            }
        }
        if (!clock.isValid())
            clock.start();
        int status = 0;
        waitpid(child, &status, 0);
        *diedAfterMs = clock.elapsed();
        if (peer >= 0 && answer != Answer::HangUp)
            close(peer);
        return status;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void connectNeverWaitsForATool()
    {
        std::string why;
        QCOMPARE(DumpToolLink::connect(path("nobody"), &why), DumpToolLink::Attempt::NotYet);
        QCOMPARE(DumpToolLink::connect(std::string(200, 'x'), &why), DumpToolLink::Attempt::Refused);
        QCOMPARE(DumpToolLink::descriptor(), -1);
        // Nobody linked: the hook has nobody to tell.
        QVERIFY(DumpToolLink::toolGone());
    }

    void linkNoticesTheToolsEnd()
    {
        const int listener = listenAt(path("tool"));
        QVERIFY(listener >= 0);
        std::string why;
        QCOMPARE(DumpToolLink::connect(path("tool"), &why), DumpToolLink::Attempt::Connected);
        QCOMPARE(DumpToolLink::toolPid(), getpid());
        const int peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        QVERIFY(peer >= 0);
        QVERIFY(!DumpToolLink::toolGone());
        QVERIFY(DumpToolLink::descriptor() >= 0);
        close(peer);
        QVERIFY(readable(DumpToolLink::descriptor(), 5000));
        QVERIFY(DumpToolLink::toolGone());
        QCOMPARE(DumpToolLink::descriptor(), -1);
        QCOMPARE(DumpToolLink::toolPid(), 0);
        close(listener);
    }

    void hookReportsTheFaultAndWaitsForTheAnswer()
    {
        CrashNotice notice;
        notice.magic = 0;
        qint64 after = 0;
        const int status = failingChild(Answer::Done, &notice, &after);
        QVERIFY2(WIFSIGNALED(status), qPrintable(QString::number(status)));
        QCOMPARE(WTERMSIG(status), SIGSEGV);
        QCOMPARE(notice.magic, CrashNotice::kMagic);
        QCOMPARE(notice.size, uint32_t(sizeof(CrashNotice)));
        QCOMPARE(notice.signal, SIGSEGV);
        QVERIFY(notice.pid > 0);
        QCOMPARE(notice.tid, notice.pid);
        QVERIFY(notice.siginfoAddress != 0 && notice.ucontextAddress != 0);
        QVERIFY2(after < 1500, qPrintable(QString::number(after)));
    }

    void hookWaitsOnlyAsLongAsAllowed()
    {
        CrashNotice notice;
        qint64 after = 0;
        const int status = failingChild(Answer::Nothing, &notice, &after);
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), SIGSEGV);
        QVERIFY2(after >= 1500 && after < 10000, qPrintable(QString::number(after)));
    }

    void goneToolNeitherHoldsNorKillsWithSigpipe()
    {
        CrashNotice notice;
        qint64 after = 0;
        const int status = failingChild(Answer::HangUp, &notice, &after);
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), SIGSEGV);
        QVERIFY2(after < 1500, qPrintable(QString::number(after)));
    }
};

QTEST_GUILESS_MAIN(DumpToolLinkTest)
#include "DumpToolLinkTest.moc"
