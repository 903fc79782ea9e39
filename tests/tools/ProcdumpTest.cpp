#include "ChildProcess.h"
#include "RuntimeLocation.h"

#include <QLocalSocket>
#include <QtTest>

#include <elf.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>

namespace {

QString procdumpPath()
{
    return qEnvironmentVariable("TARN_TEST_ROOT") + QStringLiteral("/procdump");
}

QString crasherPath()
{
    return QStringLiteral(TARN_CRASHER_PATH);
}

QString recordPath(pid_t pid)
{
    return QString::fromStdString(RuntimeLocation::objectPath("wddmpsharememory" + std::to_string(pid)));
}

QStringList dumpArguments(pid_t pid, const QString &path, bool onException = true)
{
    QStringList arguments = {QStringLiteral("-accepteula"), QStringLiteral("-mm"), QStringLiteral("-n"),
                             QStringLiteral("1")};
    if (onException)
        arguments << QStringLiteral("-e");
    arguments << QString::number(pid) << path;
    return arguments;
}

bool ownerOnly(const QString &path)
{
    struct stat st;
    return stat(path.toLocal8Bit().constData(), &st) == 0 && (st.st_mode & 0777) == 0600;
}

QByteArray runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(120000))
        return QByteArray("timed out");
    return process.readAll();
}

QString socketPath(pid_t pid)
{
    return qEnvironmentVariable("XDG_RUNTIME_DIR") +
           QStringLiteral("/tarn-desktop/procdump-%1.socket").arg(pid);
}

int tracerOf(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = status.readAll();
    const int at = text.indexOf("TracerPid:");
    return at < 0 ? -1 : text.mid(at + 10, text.indexOf('\n', at) - at - 10).trimmed().toInt();
}

QByteArray gdb(const QString &command, const QString &dump)
{
    return runTool(QStringLiteral("gdb"), {QStringLiteral("-batch"), QStringLiteral("-nx"),
                                           QStringLiteral("-ex"), command, crasherPath(), dump});
}

} // namespace

class TestProcdump : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    // Starts the crasher, points the dump tool at it and waits for both.
    struct Run
    {
        ChildProcess target;
        ChildProcess tool;
        QString dump;
    };
    bool crash(Run &run, const QString &mode, const QString &name, bool onThread = false)
    {
        run.dump = m_dir.path() + QLatin1Char('/') + name;
        QStringList arguments = {mode};
        if (onThread)
            arguments << QStringLiteral("thread");
        if (!run.target.start(crasherPath(), arguments))
            return false;
        if (!run.tool.start(procdumpPath(), dumpArguments(run.target.pid(), run.dump)))
            return false;
        return run.target.wait(60000) && run.tool.wait(60000);
    }

    // Starts the crasher waiting, linked to its dump tool.
    bool startLinked(Run &run, const QString &name, const QStringList &environment = {})
    {
        run.dump = m_dir.path() + QLatin1Char('/') + name;
        if (!run.target.start(crasherPath(), {QStringLiteral("sleep")}, environment) ||
            !run.tool.start(procdumpPath(), dumpArguments(run.target.pid(), run.dump)))
            return false;
        QElapsedTimer clock;
        clock.start();
        while (!run.target.standardError().contains("linked\n")) {
            if (clock.elapsed() > 30000 || run.target.wait(0))
                return false;
            QTest::qWait(20);
        }
        return true;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(QFileInfo(procdumpPath()).isExecutable(), qPrintable(procdumpPath()));
    }

    void rejectsOtherCommandLines_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("nothing") << QStringList();
        QTest::newRow("pid only") << QStringList{"1234"};
        QTest::newRow("without -accepteula") << QStringList{"-mm", "-n", "1", "-e", "1234", "/tmp/x.dmp"};
        QTest::newRow("full dump") << QStringList{"-accepteula", "-ma",  "-n",        "1",
                                                  "-e",          "1234", "/tmp/x.dmp"};
        QTest::newRow("two dumps") << QStringList{"-accepteula", "-mm",  "-n",        "2",
                                                  "-e",          "1234", "/tmp/x.dmp"};
        QTest::newRow("-e misplaced")
            << QStringList{"-accepteula", "-mm", "-e", "-n", "1", "1234", "/tmp/x.dmp"};
        QTest::newRow("other option for -e")
            << QStringList{"-accepteula", "-mm", "-n", "1", "-x", "1234", "/tmp/x.dmp"};
        QTest::newRow("pid not a number")
            << QStringList{"-accepteula", "-mm", "-n", "1", "-e", "12a4", "/tmp/x.dmp"};
        QTest::newRow("negative pid")
            << QStringList{"-accepteula", "-mm", "-n", "1", "-e", "-1", "/tmp/x.dmp"};
        QTest::newRow("pid 0") << QStringList{"-accepteula", "-mm", "-n", "1", "-e", "0", "/tmp/x.dmp"};
        QTest::newRow("pid too large")
            << QStringList{"-accepteula", "-mm", "-n", "1", "-e", "99999999999", "/tmp/x.dmp"};
        QTest::newRow("no dump path") << QStringList{"-accepteula", "-mm", "-n", "1", "-e", "1234"};
        QTest::newRow("empty dump path") << QStringList{"-accepteula", "-mm", "-n", "1", "-e", "1234", ""};
        QTest::newRow("folder as dump path")
            << QStringList{"-accepteula", "-mm", "-n", "1", "-e", "1234", "/tmp/"};
        QTest::newRow("one too many")
            << QStringList{"-accepteula", "-mm", "-n", "1", "-e", "1234", "/tmp/x.dmp", "more"};
    }
    void rejectsOtherCommandLines()
    {
        QFETCH(QStringList, arguments);
        ChildProcess tool;
        QVERIFY(tool.start(procdumpPath(), arguments));
        QVERIFY(tool.wait(10000));
        QCOMPARE(tool.exitCode(), 2);
        QVERIFY(tool.standardError().startsWith("usage: procdump"));
    }

    void missingProcessIsAnError()
    {
        // Process ids above the kernel's limit never exist.
        ChildProcess tool;
        const QString dump = m_dir.path() + QStringLiteral("/missing.dmp");
        QVERIFY(tool.start(procdumpPath(), dumpArguments(2147483647, dump)));
        QVERIFY(tool.wait(10000));
        QCOMPARE(tool.exitCode(), 1);
        QVERIFY(!QFile::exists(dump));
    }

    void crashLeavesADumpThatTheDebuggerReads()
    {
        Run run;
        QVERIFY(crash(run, QStringLiteral("segv"), QStringLiteral("segv.dmp")));
        // The target dies of its own fault, as it would without the tool.
        QCOMPARE(run.target.termSignal(), SIGSEGV);
        QCOMPARE(run.tool.exitCode(), 0);
        QVERIFY(!QFile::exists(recordPath(run.target.pid())));

        QFile core(run.dump);
        QVERIFY(core.open(QIODevice::ReadOnly));
        const QByteArray head = core.read(sizeof(Elf64_Ehdr));
        QCOMPARE(head.size(), int(sizeof(Elf64_Ehdr)));
        Elf64_Ehdr ehdr;
        memcpy(&ehdr, head.constData(), sizeof(ehdr));
        QVERIFY(memcmp(ehdr.e_ident, ELFMAG, SELFMAG) == 0);
        QCOMPARE(int(ehdr.e_type), int(ET_CORE));
        QVERIFY(ownerOnly(run.dump));
        QVERIFY(ownerOnly(run.dump + QStringLiteral(".txt")));

        const QByteArray notes = runTool(QStringLiteral("readelf"), {QStringLiteral("-n"), run.dump});
        for (const char *note : {"NT_PRSTATUS", "NT_PRPSINFO", "NT_AUXV", "NT_FILE", "NT_SIGINFO"})
            QVERIFY2(notes.contains(note), notes.constData());

        const QByteArray bt = gdb(QStringLiteral("bt"), run.dump);
        QVERIFY2(bt.contains("SIGSEGV"), bt.constData());
        QVERIFY2(bt.contains("crashHere"), bt.constData());
        QVERIFY2(bt.contains(" main ("), bt.constData());

        QFile text(run.dump + QStringLiteral(".txt"));
        QVERIFY(text.open(QIODevice::ReadOnly));
        const QByteArray trace = text.readAll();
        QVERIFY2(trace.contains("crashHere(int)"), trace.constData());
        QVERIFY2(trace.contains(" in main"), trace.constData());
        QVERIFY2(trace.contains("crasher.cpp:"), trace.constData());
        QVERIFY2(trace.contains("(crashed)"), trace.constData());
    }

    void everyThreadIsInTheDump()
    {
        Run run;
        QVERIFY(crash(run, QStringLiteral("threads"), QStringLiteral("threads.dmp")));
        QCOMPARE(run.target.termSignal(), SIGSEGV);
        QCOMPARE(run.tool.exitCode(), 0);

        QFile text(run.dump + QStringLiteral(".txt"));
        QVERIFY(text.open(QIODevice::ReadOnly));
        const QByteArray trace = text.readAll();
        QCOMPARE(trace.count("\nThread "), 4);
        QCOMPARE(trace.count("(crashed)"), 1);
        QCOMPARE(trace.count("waitForever"), 3);

        const QByteArray threads = gdb(QStringLiteral("info threads"), run.dump);
        const QRegularExpression row(QStringLiteral("^\\*?\\s+\\d+\\s+(LWP|Thread) "),
                                     QRegularExpression::MultilineOption);
        QCOMPARE(QString::fromUtf8(threads).count(row), 4);
        const QByteArray all = gdb(QStringLiteral("thread apply all bt"), run.dump);
        QCOMPARE(all.count("::waitForever () at"), 3);
        QVERIFY2(all.contains(" main ("), all.constData());
    }

    void abortIsDumped()
    {
        Run run;
        QVERIFY(crash(run, QStringLiteral("abort"), QStringLiteral("abort.dmp")));
        QCOMPARE(run.target.termSignal(), SIGABRT);
        QCOMPARE(run.tool.exitCode(), 0);
        QVERIFY(QFile::exists(run.dump));
        const QByteArray bt = gdb(QStringLiteral("bt"), run.dump);
        QVERIFY2(bt.contains("SIGABRT"), bt.constData());
        QVERIFY2(bt.contains("abort"), bt.constData());
        QVERIFY2(bt.contains(" main ("), bt.constData());
    }

    void everyFatalSignalIsDumpedAndEndsTheProcess_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("onThread");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QByteArray>("frame");
        const struct
        {
            const char *mode;
            int signal;
            const char *frame;
        } kinds[] = {{"segv", SIGSEGV, "crashHere"}, {"bus", SIGBUS, "faultNow"},
                     {"ill", SIGILL, "faultNow"},    {"fpe", SIGFPE, "faultNow"},
                     {"abort", SIGABRT, "faultNow"}, {"trap", SIGTRAP, "faultNow"},
                     {"sys", SIGSYS, "faultNow"}};
        for (const auto &kind : kinds)
            for (const bool onThread : {false, true})
                QTest::newRow(
                    qPrintable(QStringLiteral("%1 on %2").arg(kind.mode, onThread ? "a thread" : "main")))
                    << QString::fromLatin1(kind.mode) << onThread << kind.signal << QByteArray(kind.frame);
        QTest::newRow("double free") << QStringLiteral("double-free") << false << int(SIGABRT)
                                     << QByteArray("faultNow");
        QTest::newRow("stack overflow")
            << QStringLiteral("overflow") << false << int(SIGSEGV) << QByteArray("overflowStack");
    }
    void everyFatalSignalIsDumpedAndEndsTheProcess()
    {
        QFETCH(QString, mode);
        QFETCH(bool, onThread);
        QFETCH(int, signal);
        QFETCH(QByteArray, frame);
        Run run;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(crash(run, mode, mode + (onThread ? QStringLiteral("-thread.dmp") : QStringLiteral(".dmp")),
                      onThread));
        // The hook waited for the dump, so it is there when the process is gone.
        QVERIFY(QFile::exists(run.dump));
        QVERIFY(QFile::exists(run.dump + QStringLiteral(".txt")));
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(run.target.termSignal(), signal);
        QCOMPARE(run.tool.exitCode(), 0);

        const QByteArray bt = gdb(QStringLiteral("bt"), run.dump);
        QVERIFY2(bt.contains("#0 "), bt.constData());
        QVERIFY2(bt.contains(frame), bt.constData());
        const QByteArray signalName = QByteArray("signal ") + QByteArray(sigabbrev_np(signal)).prepend("SIG");
        QVERIFY2(bt.contains(signalName), bt.constData());

        QFile text(run.dump + QStringLiteral(".txt"));
        QVERIFY(text.open(QIODevice::ReadOnly));
        const QByteArray trace = text.readAll();
        // The failing thread comes first and is shown from the failing instruction, not the hook.
        const int first = trace.indexOf("\nThread ");
        QVERIFY2(first > 0, trace.constData());
        const QByteArray header = trace.mid(first + 1, trace.indexOf('\n', first + 1) - first - 1);
        QVERIFY2(header.endsWith("(crashed):"), header.constData());
        QVERIFY2(trace.indexOf(frame) > first, trace.constData());
        QVERIFY2(!trace.mid(first, trace.indexOf(frame) - first).contains("handOff"), trace.constData());
        QVERIFY2(trace.contains(QByteArray("Killed by signal ") + QByteArray::number(signal)),
                 trace.constData());
    }

    void twoThreadsFailingTogetherGiveOneDump()
    {
        Run run;
        QVERIFY(crash(run, QStringLiteral("together"), QStringLiteral("together.dmp")));
        QCOMPARE(run.target.termSignal(), SIGSEGV);
        QCOMPARE(run.tool.exitCode(), 0);
        QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("together.dmp*")}).size(), 2);
        QFile text(run.dump + QStringLiteral(".txt"));
        QVERIFY(text.open(QIODevice::ReadOnly));
        const QByteArray trace = text.readAll();
        QCOMPARE(trace.count("(crashed)"), 1);
        QCOMPARE(trace.count("\nThread "), 3);
        // The other failing thread is in the dump too: at its fault, in the hook waiting for the
        // process to end, or (on a loaded machine) just before its fault.
        const QByteArray other = trace.mid(trace.indexOf("\nThread ", trace.indexOf("(crashed)")));
        QVERIFY2(other.contains("main::{lambda"), trace.constData());
    }

    void handlerPutOverTheHookGetsNoDumpButNoWaitEither()
    {
        // A program that replaces the hook decides alone; the tool neither dumps nor holds it up.
        Run run;
        QVERIFY(crash(run, QStringLiteral("handled"), QStringLiteral("handled.dmp")));
        QCOMPARE(run.target.termSignal(), SIGSEGV);
        QCOMPARE(run.target.standardError(), QByteArray("handler ran\n"));
        QCOMPARE(run.tool.exitCode(), 0);
        QVERIFY(!QFile::exists(run.dump));
    }

    void faultTheProgramSurvivesLeavesNoDump()
    {
        Run run;
        QVERIFY(crash(run, QStringLiteral("recovered"), QStringLiteral("recovered.dmp")));
        QVERIFY(run.target.exitedNormally());
        QCOMPARE(run.target.exitCode(), 0);
        QCOMPARE(run.tool.exitCode(), 0);
        QVERIFY(!QFile::exists(run.dump));
    }

    void normalExitLeavesNoDump()
    {
        Run run;
        QVERIFY(crash(run, QStringLiteral("exit"), QStringLiteral("exit.dmp")));
        QVERIFY(run.target.exitedNormally());
        QCOMPARE(run.target.exitCode(), 0);
        QCOMPARE(run.tool.exitCode(), 0);
        QVERIFY(!QFile::exists(run.dump));
        QVERIFY(!QFile::exists(run.dump + QStringLiteral(".txt")));
        QVERIFY(!QFile::exists(recordPath(run.target.pid())));
    }

    void handledSignalsPassThroughUnchanged()
    {
        Run run;
        QVERIFY(crash(run, QStringLiteral("usr1"), QStringLiteral("usr1.dmp")));
        QCOMPARE(run.target.exitCode(), 3);
        QCOMPARE(run.tool.exitCode(), 0);
        QVERIFY(!QFile::exists(run.dump));
    }

    void stoppedProcessStaysStoppedUntilContinued()
    {
        Run run;
        run.dump = m_dir.path() + QStringLiteral("/stop.dmp");
        QVERIFY(run.target.start(crasherPath(), {QStringLiteral("stop")}));
        QVERIFY(run.tool.start(procdumpPath(), dumpArguments(run.target.pid(), run.dump)));
        // It stopped itself; it must not run on by itself.
        QVERIFY(!run.target.wait(1500));
        run.target.signal(SIGCONT);
        QVERIFY(run.target.wait(20000));
        QCOMPARE(run.target.exitCode(), 7);
        QVERIFY(run.tool.wait(20000));
        QCOMPARE(run.tool.exitCode(), 0);
        QVERIFY(!QFile::exists(run.dump));
    }

    void outsideKillIsDumpedAndStrangersAreTurnedAway()
    {
        Run run;
        QVERIFY(startLinked(run, QStringLiteral("killed.dmp")));
        // Only the target itself may report a fault.
        QLocalSocket stranger;
        stranger.connectToServer(socketPath(run.target.pid()));
        QVERIFY(stranger.waitForConnected(5000));
        QTRY_COMPARE_WITH_TIMEOUT(stranger.state(), QLocalSocket::UnconnectedState, 10000);
        QVERIFY(run.tool.standardError().contains("turned away"));

        run.target.signal(SIGSEGV);
        QVERIFY(run.target.wait(30000));
        QCOMPARE(run.target.termSignal(), SIGSEGV);
        QVERIFY(run.tool.wait(30000));
        QCOMPARE(run.tool.exitCode(), 0);
        QVERIFY(QFile::exists(run.dump));
        QVERIFY(!QFile::exists(socketPath(run.target.pid())));
    }

    void debuggersAttachAndDetachWhileTheToolWaits()
    {
        Run run;
        QVERIFY(startLinked(run, QStringLiteral("debugged.dmp")));
        const QString pid = QString::number(run.target.pid());
        QCOMPARE(tracerOf(run.target.pid()), 0);

        const QByteArray threads = runTool(
            QStringLiteral("gdb"), {QStringLiteral("-batch"), QStringLiteral("-nx"), QStringLiteral("-p"),
                                    pid, QStringLiteral("-ex"), QStringLiteral("info threads")});
        QVERIFY2(threads.contains("Thread ") || threads.contains("LWP "), threads.constData());
        QVERIFY2(!threads.contains("already traced"), threads.constData());
        QCOMPARE(tracerOf(run.target.pid()), 0);

        QProcess strace;
        strace.setProcessChannelMode(QProcess::MergedChannels);
        strace.start(QStringLiteral("strace"), {QStringLiteral("-p"), pid});
        QVERIFY(strace.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(tracerOf(run.target.pid()) == strace.processId(), 20000);
        ::kill(static_cast<pid_t>(strace.processId()), SIGINT);
        QVERIFY(strace.waitForFinished(20000));
        QVERIFY2(!strace.readAll().contains("Operation not permitted"), "strace refused");
        QTRY_COMPARE_WITH_TIMEOUT(tracerOf(run.target.pid()), 0, 10000);

        // Still running, and the tool still takes the dump when it fails.
        QVERIFY(!run.target.wait(200));
        run.target.signal(SIGBUS);
        QVERIFY(run.target.wait(30000));
        QCOMPARE(run.target.termSignal(), SIGBUS);
        QVERIFY(QFile::exists(run.dump));
        QVERIFY(run.tool.wait(30000));
        QCOMPARE(run.tool.exitCode(), 0);
    }

    // The unwinder is loaded for the first backtrace, not while the tool only waits.
    void waitingToolHasNoUnwinderLoaded()
    {
        Run run;
        QVERIFY(startLinked(run, QStringLiteral("unwinder.dmp")));
        QFile maps(QStringLiteral("/proc/%1/maps").arg(run.tool.pid()));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        const QByteArray mapped = maps.readAll();
        QVERIFY(mapped.contains("procdump"));
        QVERIFY2(!mapped.contains("libdw"), mapped.constData());

        run.target.signal(SIGSEGV);
        QVERIFY(run.target.wait(30000));
        QVERIFY(run.tool.wait(30000));
        QCOMPARE(run.tool.exitCode(), 0);
        QFile text(run.dump + QStringLiteral(".txt"));
        QVERIFY(text.open(QIODevice::ReadOnly));
        const QByteArray trace = text.readAll();
        QVERIFY2(!trace.contains("No backtraces"), trace.constData());
        QVERIFY2(trace.contains(" in main"), trace.constData());
    }

    void goneToolLeavesNoDumpAndNoWait()
    {
        Run run;
        QVERIFY(startLinked(run, QStringLiteral("gone.dmp")));
        run.tool.signal(SIGKILL);
        QVERIFY(run.tool.wait(10000));
        QElapsedTimer clock;
        clock.start();
        run.target.signal(SIGSEGV);
        QVERIFY(run.target.wait(30000));
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(run.target.termSignal(), SIGSEGV);
        QVERIFY(!QFile::exists(run.dump));
        QFile::remove(recordPath(run.target.pid()));
        QFile::remove(socketPath(run.target.pid()));
    }

    void toolThatDoesNotAnswerHoldsTheProcessOnlyBriefly()
    {
        Run run;
        QVERIFY(startLinked(run, QStringLiteral("silent.dmp"), {QStringLiteral("TARN_DUMP_WAIT_SECONDS=2")}));
        run.tool.signal(SIGSTOP);
        QElapsedTimer clock;
        clock.start();
        run.target.signal(SIGFPE);
        QVERIFY(run.target.wait(30000));
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(run.target.termSignal(), SIGFPE);
        QVERIFY(!QFile::exists(run.dump));
        // Woken up too late, the tool finds nothing left to dump and says so.
        run.tool.signal(SIGCONT);
        QVERIFY(run.tool.wait(20000));
        QCOMPARE(run.tool.exitCode(), 1);
        QVERIFY(!QFile::exists(run.dump));
    }

    void endingTheToolLetsTheProcessGoOn()
    {
        Run run;
        QVERIFY(startLinked(run, QStringLiteral("ended.dmp")));
        QCOMPARE(tracerOf(run.target.pid()), 0);
        run.tool.signal(SIGTERM);
        QVERIFY(run.tool.wait(10000));
        QCOMPARE(run.tool.exitCode(), 0);
        QVERIFY(run.tool.standardError().contains("stopped watching"));
        QVERIFY(!QFile::exists(socketPath(run.target.pid())));
        QVERIFY(!run.target.wait(200));
        // A fault now is the process's own business, without delay.
        QElapsedTimer clock;
        clock.start();
        run.target.signal(SIGSEGV);
        QVERIFY(run.target.wait(10000));
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(run.target.termSignal(), SIGSEGV);
        QVERIFY(!QFile::exists(run.dump));
        QFile::remove(recordPath(run.target.pid()));
    }

    void hangDumpLeavesTheProcessRunning()
    {
        ChildProcess target;
        QVERIFY(target.start(crasherPath(), {QStringLiteral("stall")}));
        QTest::qWait(300);
        const QString dump = m_dir.path() + QStringLiteral("/hang.dmp");
        ChildProcess tool;
        QVERIFY(tool.start(procdumpPath(), dumpArguments(target.pid(), dump, false)));
        QVERIFY(tool.wait(60000));
        QCOMPARE(tool.exitCode(), 0);
        QVERIFY(QFile::exists(dump));
        QFile text(dump + QStringLiteral(".txt"));
        QVERIFY(text.open(QIODevice::ReadOnly));
        QVERIFY(text.readAll().contains(" in main"));

        // Still running and no longer traced.
        QVERIFY(!target.wait(500));
        QFile status(QStringLiteral("/proc/%1/status").arg(target.pid()));
        QVERIFY(status.open(QIODevice::ReadOnly));
        QVERIFY(status.readAll().contains("TracerPid:\t0\n"));
        target.signal(SIGTERM);
        QVERIFY(target.wait(10000));
        QCOMPARE(target.termSignal(), SIGTERM);
        QFile::remove(recordPath(target.pid()));
    }
};

QTEST_GUILESS_MAIN(TestProcdump)
#include "ProcdumpTest.moc"
