#include "ProgramRun.h"
#include "XDesktop.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace {

bool waitForReady(const ProgramRun &run, int ms)
{
    return QTest::qWaitFor([&] { return run.output().contains("ready\n"); }, ms);
}

QString recordPath(const ProgramRun &run, qint64 pid)
{
    return run.home() + QStringLiteral("/run/tarn-desktop/wddmpsharememory%1").arg(pid);
}

QString logPath(const ProgramRun &run)
{
    return run.dataDir() + QStringLiteral("/tarn-desktop/log/tarn-desktop.log");
}

// A start of the real program whose standard streams and inherited signal dispositions the test
// chooses, which QProcess cannot give. The child dies with the test and is killed by the destructor.
class DirectRun
{
public:
    ~DirectRun()
    {
        if (m_pid > 0 && !m_ended) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    bool start(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
               int output, int error, const std::vector<int> &ignoredSignals = {})
    {
        // Everything the child needs is built before fork: after it only async-signal-safe calls.
        std::vector<QByteArray> argStore{QFile::encodeName(program)};
        for (const QString &argument : arguments)
            argStore.push_back(argument.toLocal8Bit());
        std::vector<QByteArray> envStore;
        for (const QString &entry : environment.toStringList())
            envStore.push_back(entry.toLocal8Bit());
        std::vector<char *> argv;
        for (QByteArray &a : argStore)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char *> envp;
        for (QByteArray &e : envStore)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        const pid_t parent = ::getpid();
        m_pid = ::fork();
        if (m_pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(126);
            ::dup2(input, 0);
            ::dup2(output, 1);
            ::dup2(error, 2);
            struct sigaction ignore;
            memset(&ignore, 0, sizeof(ignore));
            ignore.sa_handler = SIG_IGN;
            for (int signal : ignoredSignals)
                ::sigaction(signal, &ignore, nullptr);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(input);
        return m_pid > 0;
    }

    pid_t pid() const { return m_pid; }
    bool running()
    {
        if (m_ended)
            return false;
        const pid_t got = ::waitpid(m_pid, &m_status, WNOHANG);
        m_ended = got == m_pid;
        return got == 0;
    }
    // The wait status once the process ended; false when it did not end in time.
    bool wait(int ms)
    {
        QElapsedTimer clock;
        clock.start();
        while (running() && clock.elapsed() < ms)
            QThread::msleep(20);
        return m_ended;
    }
    QString describe() const
    {
        if (!m_ended)
            return QStringLiteral("still running");
        if (WIFSIGNALED(m_status))
            return QStringLiteral("killed by signal %1").arg(WTERMSIG(m_status));
        return QStringLiteral("exit %1").arg(WEXITSTATUS(m_status));
    }
    bool exitedWithZero() const { return m_ended && WIFEXITED(m_status) && WEXITSTATUS(m_status) == 0; }

private:
    pid_t m_pid = -1;
    int m_status = 0;
    bool m_ended = false;
};

// The write end of a pipe whose reader is already gone, as `tarn-desktop | true` leaves it.
class DeadPipe
{
public:
    DeadPipe()
    {
        if (::pipe2(m_fds, O_CLOEXEC) == 0) {
            ::close(m_fds[0]);
            m_fds[0] = -1;
        }
    }
    ~DeadPipe()
    {
        if (m_fds[1] >= 0)
            ::close(m_fds[1]);
    }
    int writeEnd() const { return m_fds[1]; }

private:
    int m_fds[2] = {-1, -1};
};

} // namespace

// How the program ends when the session, a terminal or a user ends it, and what a dead output stream or a
// FIFO at the log path do to it.
class SessionEndTest : public QObject
{
    Q_OBJECT

private:
    XDesktop m_x;
    QString m_root;

    // The whole shutdown ran for the process: modules released, services stopped, "app exit" last and
    // the heartbeat record gone.
    void checkOrderlyEnd(const ProgramRun &run, qint64 pid)
    {
        const QStringList texts = run.logTexts(pid);
        QVERIFY2(!texts.isEmpty(), "the process wrote no log");
        QCOMPARE(texts.count(QStringLiteral("N:Demo stop service")), 1);
        QVERIFY2(texts.contains(QStringLiteral("D:Modules MsgBox_Uninit")), qPrintable(texts.join('\n')));
        QCOMPARE(texts.last(), QStringLiteral("N:Demo app exit"));
        QVERIFY(!QFile::exists(recordPath(run, pid)));
    }

private slots:
    void initTestCase()
    {
        m_root = qEnvironmentVariable("TARN_ROOT_DIR");
        QVERIFY2(QFile::exists(m_root + "/tarn-desktop"), qPrintable("no program in " + m_root));
        QVERIFY2(m_x.start(), qPrintable(m_x.error()));
    }
    void cleanupTestCase() { m_x.stop(); }

    void terminationSignalEndsInOrder_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM (log-out)") << int(SIGTERM);
        QTest::newRow("SIGHUP (terminal closed)") << int(SIGHUP);
        QTest::newRow("SIGINT (Ctrl+C)") << int(SIGINT);
    }
    void terminationSignalEndsInOrder()
    {
        QFETCH(int, signal);
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        QVERIFY(run.writeConfig("system.ini", "[Syslog]\nnLogLevel=7\n"));
        QVERIFY(run.start({}, "ready"));
        QVERIFY2(waitForReady(run, 60000), run.output().constData());
        QVERIFY(QFile::exists(recordPath(run, run.pid())));
        QCOMPARE(::kill(pid_t(run.pid()), signal), 0);
        QVERIFY2(run.wait(60000), "the program did not end on the signal");
        QVERIFY2(!run.crashed(), run.standardError().constData());
        QCOMPARE(run.exitCode(), 0);
        checkOrderlyEnd(run, run.pid());
        QVERIFY(run.logTexts(run.pid()).contains(QStringLiteral("N:Demo quit on signal %1 (%2)")
                                                     .arg(signal)
                                                     .arg(QString::fromLocal8Bit(strsignal(signal)))));
    }

    void furtherSignalsDuringShutdownChangeNothing()
    {
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        QVERIFY(run.writeConfig("system.ini", "[Syslog]\nnLogLevel=7\n"));
        QVERIFY(run.start({}, "ready"));
        QVERIFY2(waitForReady(run, 60000), run.output().constData());
        const pid_t pid = pid_t(run.pid());
        // A session that loses patience sends more while the first one is being handled.
        QCOMPARE(::kill(pid, SIGTERM), 0);
        for (int i = 0; i < 20 && ::kill(pid, 0) == 0; ++i) {
            ::kill(pid, i % 2 ? SIGINT : SIGHUP);
            QThread::msleep(5);
        }
        QVERIFY2(run.wait(60000), "the program did not end");
        QVERIFY2(!run.crashed(), run.standardError().constData());
        QCOMPARE(run.exitCode(), 0);
        checkOrderlyEnd(run, run.pid());
        QCOMPARE(run.logTexts(run.pid()).filter(QStringLiteral("N:Demo quit on signal")).size(), 1);
    }

    void signalIgnoredAtStartStaysIgnored()
    {
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        QVERIFY(run.writeConfig("system.ini", "[Syslog]\nnLogLevel=7\n"));
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        QVERIFY(null >= 0);
        DirectRun program;
        // As `nohup tarn-desktop` starts it: a closed terminal must not end it.
        const bool started =
            program.start(m_root + "/tarn-desktop", {}, run.environment("ready"), null, null, {SIGHUP});
        ::close(null);
        QVERIFY(started);
        QVERIFY2(waitForReady(run, 60000), run.output().constData());
        QCOMPARE(::kill(program.pid(), SIGHUP), 0);
        QVERIFY2(!program.wait(2000), qPrintable(program.describe()));
        QCOMPARE(::kill(program.pid(), SIGTERM), 0);
        QVERIFY2(program.wait(60000), "the program did not end on SIGTERM");
        QVERIFY2(program.exitedWithZero(), qPrintable(program.describe()));
        checkOrderlyEnd(run, program.pid());
    }

    void deadOutputStreamsAreNotFatal_data()
    {
        QTest::addColumn<bool>("deadOutput");
        QTest::addColumn<bool>("deadError");
        QTest::newRow("tarn-desktop | true") << true << false;
        QTest::newRow("tarn-desktop 2>&1 | true") << true << true;
    }
    void deadOutputStreamsAreNotFatal()
    {
        QFETCH(bool, deadOutput);
        QFETCH(bool, deadError);
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        QVERIFY(run.writeConfig("system.ini", "[Syslog]\nnLogLevel=7\n"));
        DeadPipe pipe;
        QVERIFY(pipe.writeEnd() >= 0);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        QVERIFY(null >= 0);
        DirectRun program;
        const bool started =
            program.start(m_root + "/tarn-desktop", {}, run.environment("ready,quit-after-ms=1500"),
                          deadOutput ? pipe.writeEnd() : null, deadError ? pipe.writeEnd() : null);
        ::close(null);
        QVERIFY(started);
        QVERIFY2(program.wait(60000), "the program did not end");
        QVERIFY2(program.exitedWithZero(), qPrintable(program.describe()));
        QVERIFY(run.output().contains("ready\n"));
        checkOrderlyEnd(run, program.pid());
    }

    void fifoAtTheLogPathBlocksNothing()
    {
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        const QString log = logPath(run);
        QVERIFY(QDir().mkpath(QFileInfo(log).path()));
        QCOMPARE(::mkfifo(QFile::encodeName(log).constData(), 0600), 0);

        QVERIFY(run.start({}, "ready,quit-after-ms=90000"));
        QVERIFY2(waitForReady(run, 60000), "start-up hangs on the FIFO");
        // A second start is handed over at once, and `uninstall` closes the first one.
        QCOMPARE(run.runOther({}, QString()), 255);
        QCOMPARE(run.runOther({"uninstall"}, QString()), 255);
        QVERIFY2(run.wait(30000), "the instance did not close on request");
        QVERIFY2(!run.crashed(), run.standardError().constData());
        QCOMPARE(run.exitCode(), 0);
        // The lines went where they go when the log file is refused; the FIFO is left as it was.
        QVERIFY2(run.standardError().contains("N:Demo app exit"), run.standardError().constData());
        struct stat st;
        QCOMPARE(::lstat(QFile::encodeName(log).constData(), &st), 0);
        QVERIFY(S_ISFIFO(st.st_mode));
    }
};

QTEST_GUILESS_MAIN(SessionEndTest)
#include "SessionEndTest.moc"
