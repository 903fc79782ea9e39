#include "ChildProcess.h"

#include <QtTest>

#include <elf.h>
#include <sys/stat.h>

#include <csignal>

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
    return QStringLiteral("/dev/shm/wddmpsharememory%1").arg(pid);
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
    bool crash(Run &run, const QString &mode, const QString &name)
    {
        run.dump = m_dir.path() + QLatin1Char('/') + name;
        if (!run.target.start(crasherPath(), {mode}))
            return false;
        if (!run.tool.start(procdumpPath(), dumpArguments(run.target.pid(), run.dump)))
            return false;
        return run.target.wait(60000) && run.tool.wait(60000);
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

    void crashHandlerThatReraisesGivesOneDump()
    {
        // The first fault runs the program's own handler; only the re-raised, deadly one is dumped.
        // The re-raised signal waits until the handler returns, so the dump shows the fault itself.
        Run run;
        QVERIFY(crash(run, QStringLiteral("handled"), QStringLiteral("handled.dmp")));
        QCOMPARE(run.target.termSignal(), SIGSEGV);
        QCOMPARE(run.target.standardError(), QByteArray("handler ran\n"));
        QCOMPARE(run.tool.exitCode(), 0);
        QFile text(run.dump + QStringLiteral(".txt"));
        QVERIFY(text.open(QIODevice::ReadOnly));
        const QByteArray trace = text.readAll();
        QCOMPARE(trace.count("(crashed)"), 1);
        QVERIFY2(trace.contains("crashHere"), trace.constData());
        QVERIFY2(trace.contains(" in main"), trace.constData());
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

    void outsideKillIsDumped()
    {
        Run run;
        run.dump = m_dir.path() + QStringLiteral("/killed.dmp");
        QVERIFY(run.target.start(crasherPath(), {QStringLiteral("sleep")}));
        QVERIFY(run.tool.start(procdumpPath(), dumpArguments(run.target.pid(), run.dump)));
        QTest::qWait(1000);
        run.target.signal(SIGSEGV);
        QVERIFY(run.target.wait(30000));
        QCOMPARE(run.target.termSignal(), SIGSEGV);
        QVERIFY(run.tool.wait(30000));
        QCOMPARE(run.tool.exitCode(), 0);
        QVERIFY(QFile::exists(run.dump));
    }

    void endingTheToolLetsTheProcessGo()
    {
        Run run;
        run.dump = m_dir.path() + QStringLiteral("/ended.dmp");
        QVERIFY(run.target.start(crasherPath(), {QStringLiteral("sleep")}));
        QVERIFY(run.tool.start(procdumpPath(), dumpArguments(run.target.pid(), run.dump)));
        QFile status(QStringLiteral("/proc/%1/status").arg(run.target.pid()));
        QTRY_VERIFY([&] {
            status.open(QIODevice::ReadOnly);
            const bool traced = !status.readAll().contains("TracerPid:\t0\n");
            status.close();
            return traced;
        }());
        run.tool.signal(SIGTERM);
        QVERIFY(run.tool.wait(10000));
        QCOMPARE(run.tool.exitCode(), 0);
        QVERIFY(!QFile::exists(run.dump));
        // Untraced, still running, and a fault now is the process's own business.
        QVERIFY(status.open(QIODevice::ReadOnly));
        QVERIFY(status.readAll().contains("TracerPid:\t0\n"));
        QVERIFY(!run.target.wait(200));
        run.target.signal(SIGTERM);
        QVERIFY(run.target.wait(10000));
        QCOMPARE(run.target.termSignal(), SIGTERM);
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
