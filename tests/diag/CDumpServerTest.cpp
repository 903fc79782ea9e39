#include "CDumpServer.h"
#include "CommandLineSplitter.h"
#include "ETLLib.h"
#include "TraceLogFile.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

SYSTEMTIME makeTime(int year, int month, int day, int hour, int minute, int second)
{
    SYSTEMTIME t;
    memset(&t, 0, sizeof(t));
    t.wYear = WORD(year);
    t.wMonth = WORD(month);
    t.wDay = WORD(day);
    t.wHour = WORD(hour);
    t.wMinute = WORD(minute);
    t.wSecond = WORD(second);
    return t;
}

QString ownRecordPath()
{
    return QStringLiteral("/dev/shm/") +
           QString::fromStdString(CDumpServer::recordName(GetCurrentProcessId()));
}

// A second, independent read-only mapping of this process's heartbeat record, as the watchdog sees it.
class RecordReader
{
public:
    RecordReader()
    {
        const std::string name = "/" + CDumpServer::recordName(GetCurrentProcessId());
        const int fd = shm_open(name.c_str(), O_RDONLY, 0);
        if (fd < 0)
            return;
        void *view = mmap(nullptr, 8, PROT_READ, MAP_SHARED, fd, 0);
        ::close(fd);
        if (view != MAP_FAILED)
            m_view = static_cast<const unsigned char *>(view);
    }
    ~RecordReader()
    {
        if (m_view != nullptr)
            munmap(const_cast<unsigned char *>(m_view), 8);
    }
    bool isOpen() const { return m_view != nullptr; }
    // The record is a signed 64-bit little-endian integer whatever the host's byte order.
    int64_t value() const
    {
        uint64_t v = 0;
        for (int i = 7; i >= 0; --i)
            v = (v << 8) | __atomic_load_n(&m_view[i], __ATOMIC_ACQUIRE);
        return static_cast<int64_t>(v);
    }
    int64_t atomicValue() const
    {
        return __atomic_load_n(reinterpret_cast<const int64_t *>(m_view), __ATOMIC_ACQUIRE);
    }

private:
    const unsigned char *m_view = nullptr;
};

// Collects what the code under test prints on standard output.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        fflush(stdout);
        m_file.open();
        m_saved = dup(STDOUT_FILENO);
        dup2(m_file.handle(), STDOUT_FILENO);
    }
    QByteArray finish()
    {
        fflush(stdout);
        dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

QString stampPath()
{
    return QString::fromStdString(pathRemoveLastPart(etlGetExeFileName()) + "/ume_watchdog.txt");
}

const QRegularExpression kStampText(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}$"));

// Run in a child process of this test: with no address space left for new mappings the record can
// be created but not mapped. The exit code tells which expectation failed.
int openWithoutAddressSpace()
{
    CDumpServer server;
    long vmKb = 0;
    FILE *status = fopen("/proc/self/status", "r");
    char line[256];
    while (status != nullptr && fgets(line, sizeof(line), status) != nullptr)
        if (sscanf(line, "VmSize: %ld kB", &vmKb) == 1)
            break;
    if (status != nullptr)
        fclose(status);
    if (vmKb <= 0)
        return 10;
    const std::string record = "/dev/shm/" + CDumpServer::recordName(GetCurrentProcessId());
    rlimit original;
    getrlimit(RLIMIT_AS, &original);
    rlimit limit = original;
    limit.rlim_cur = static_cast<rlim_t>(vmKb) * 1024;
    if (setrlimit(RLIMIT_AS, &limit) != 0)
        return 11;
    const bool opened = server.OpenShareMemory();
    // Leak checkers need room at exit.
    setrlimit(RLIMIT_AS, &original);
    if (opened)
        return 12;
    if (!server.hasHandle() || server.isMapped())
        return 13;
    // Nothing to write to: both are harmless.
    server.UpdateTime();
    server.ClearTime();
    server.CloseShareMemory();
    if (server.hasHandle() || server.isMapped())
        return 14;
    if (access(record.c_str(), F_OK) == 0)
        return 15;
    return 0;
}

} // namespace

class TestDumpServer : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_toolDir;

    // A stand-in dump tool that writes the arguments it was given, one a line, next to itself.
    QString writeArgumentRecorder(const QString &name)
    {
        const QString path = m_toolDir.path() + QLatin1Char('/') + name;
        QFile script(path);
        if (!script.open(QIODevice::WriteOnly))
            return QString();
        script.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args.tmp\"\n"
                     "mv \"$0.args.tmp\" \"$0.args\"\n");
        script.close();
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return path;
    }

private slots:
    void initTestCase()
    {
        TraceLogFile::useTestDocFolder();
        QVERIFY(m_toolDir.isValid());
    }

    void dumpModeCommandLine_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("expected");
        QTest::newRow("configured version")
            << "1.0.0.5"
            << "\"D:/app/procdump\" -accepteula -mm -n 1 -e  \"4242\"  "
               "\"D:/doc/log//Corvane Daskor-1.0.0.5-(4242)-20260307-090502(e).dmp\" ";
        QTest::newRow("default version")
            << "11.11.11.11"
            << "\"D:/app/procdump\" -accepteula -mm -n 1 -e  \"4242\"  "
               "\"D:/doc/log//Corvane Daskor-11.11.11.11-(4242)-20260307-090502(e).dmp\" ";
    }
    void dumpModeCommandLine()
    {
        QFETCH(QString, version);
        QFETCH(QString, expected);
        const std::string prefix = "Corvane Daskor-" + version.toStdString() + "-";
        const std::string line =
            CDumpServer::buildCommandLine("D:/app/wddmp.exe", 4242, prefix, "D:/app/procdump", "D:/doc/log/",
                                          true, makeTime(2026, 3, 7, 9, 5, 2));
        QCOMPARE(QString::fromStdString(line), expected);
    }

    void dumpModeLineSplitsIntoTheToolsArguments()
    {
        const std::string line = CDumpServer::buildCommandLine(
            "D:/app/wddmp.exe", 4242, "Corvane Daskor-1.0.0.5-", "D:/app/procdump", "D:/doc/log/", true,
            makeTime(2026, 12, 8, 16, 1, 2));
        const std::vector<std::string> expected = {
            "D:/app/procdump",
            "-accepteula",
            "-mm",
            "-n",
            "1",
            "-e",
            "4242",
            "D:/doc/log//Corvane Daskor-1.0.0.5-(4242)-20261208-160102(e).dmp"};
        QVERIFY(CommandLineSplitter::split(line) == expected);
    }

    void watchdogModeCommandLine()
    {
        // The record named is always this process's, whatever id is passed.
        const std::string record = "wddmpsharememory" + std::to_string(GetCurrentProcessId());
        const std::string line =
            CDumpServer::buildCommandLine("D:/app/wddmp.exe", 4242, "Corvane Daskor-1.0.0.5-",
                                          "D:/app/procdump", "D:/doc/log/", false, SYSTEMTIME());
        QCOMPARE(line, "\"D:/app/wddmp.exe\" \"4242\" \"Corvane Daskor-1.0.0.5-\" \"D:/app/procdump\" "
                       "\"D:/doc/log/\" \"" +
                           record + "\"");
        const std::vector<std::string> expected = {
            "D:/app/wddmp.exe", "4242", "Corvane Daskor-1.0.0.5-", "D:/app/procdump", "D:/doc/log/", record};
        QVERIFY(CommandLineSplitter::split(line) == expected);
    }

    void recordName()
    {
        QCOMPARE(CDumpServer::recordName(4242), std::string("wddmpsharememory4242"));
        QCOMPARE(CDumpServer::recordName(7), std::string("wddmpsharememory7"));
        QCOMPARE(CDumpServer::recordName(4294967295u), std::string("wddmpsharememory4294967295"));
    }

    void lineOfExactly511CharactersIsTheLongestAccepted()
    {
        const SYSTEMTIME now = makeTime(2026, 12, 8, 16, 1, 2);
        const std::string shortLine =
            CDumpServer::buildCommandLine("", 4242, "p-", "/opt/procdump", "/log/", true, now);
        QVERIFY(!shortLine.empty());
        const std::string padding(511 - shortLine.size(), 'x');
        const std::string longest =
            CDumpServer::buildCommandLine("", 4242, "p-", "/opt/procdump", "/log/" + padding, true, now);
        QCOMPARE(longest.size(), size_t(511));
        QVERIFY(
            CDumpServer::buildCommandLine("", 4242, "p-", "/opt/procdump", "/log/" + padding + "x", true, now)
                .empty());
        QVERIFY(CDumpServer::buildCommandLine("/w" + std::string(600, 'w'), 4242, "p-", "/opt/procdump",
                                              "/log/", false, now)
                    .empty());
    }

    void valuesThatWouldBreakTheQuotingAreRefused_data()
    {
        QTest::addColumn<bool>("dumpMode");
        QTest::addColumn<QString>("watchdog");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QString>("logFolder");
        QTest::newRow("quote in version") << true << "/a/wddmp.exe"
                                          << "Corvane Daskor-1\" -x \"-"
                                          << "/a/procdump"
                                          << "/d/log/";
        QTest::newRow("quote in tool path") << true << "/a/wddmp.exe"
                                            << "p-"
                                            << "/a\"b/procdump"
                                            << "/d/log/";
        QTest::newRow("quote in log folder") << true << "/a/wddmp.exe"
                                             << "p-"
                                             << "/a/procdump"
                                             << "/d\"/log/";
        QTest::newRow("tool path ending in a backslash") << true << "/a/wddmp.exe"
                                                         << "p-"
                                                         << "/a/procdump\\"
                                                         << "/d/log/";
        QTest::newRow("watchdog: quote in watchdog path") << false << "/a/\"wddmp.exe"
                                                          << "p-"
                                                          << "/a/procdump"
                                                          << "/d/log/";
        QTest::newRow("watchdog: quote in version") << false << "/a/wddmp.exe"
                                                    << "1\"2-"
                                                    << "/a/procdump"
                                                    << "/d/log/";
        QTest::newRow("watchdog: log folder ending in a backslash") << false << "/a/wddmp.exe"
                                                                    << "p-"
                                                                    << "/a/procdump"
                                                                    << "/d/log\\";
        QTest::newRow("watchdog: quote in tool path") << false << "/a/wddmp.exe"
                                                      << "p-"
                                                      << "/a/\"procdump"
                                                      << "/d/log/";
    }
    void valuesThatWouldBreakTheQuotingAreRefused()
    {
        QFETCH(bool, dumpMode);
        QFETCH(QString, watchdog);
        QFETCH(QString, prefix);
        QFETCH(QString, tool);
        QFETCH(QString, logFolder);
        QVERIFY(CDumpServer::buildCommandLine(watchdog.toStdString(), 4242, prefix.toStdString(),
                                              tool.toStdString(), logFolder.toStdString(), dumpMode,
                                              makeTime(2026, 1, 1, 0, 0, 0))
                    .empty());
    }

    void startedToolReceivesTheDumpModeArguments()
    {
        const QString tool = writeArgumentRecorder(QStringLiteral("procdump"));
        QVERIFY(!tool.isEmpty());
        CDumpServer server;
        QVERIFY(server.StartDumpProcess("/nowhere/wddmp.exe", 4242, "Corvane Daskor-1.0.0.5-",
                                        tool.toStdString(), "/doc/log/", true));
        QFile args(tool + QStringLiteral(".args"));
        QTRY_VERIFY_WITH_TIMEOUT(args.exists(), 10000);
        QVERIFY(args.open(QIODevice::ReadOnly));
        const QList<QByteArray> got = args.readAll().split('\n');
        QCOMPARE(got.size(), 8); // seven arguments and the empty rest after the last line end
        QCOMPARE(got.mid(0, 6), (QList<QByteArray>{"-accepteula", "-mm", "-n", "1", "-e", "4242"}));
        QVERIFY2(QRegularExpression(QStringLiteral("^/doc/log//Corvane Daskor-1\\.0\\.0\\.5-\\(4242\\)-"
                                                   "\\d{8}-\\d{6}\\(e\\)\\.dmp$"))
                     .match(QString::fromUtf8(got.at(6)))
                     .hasMatch(),
                 got.at(6).constData());
    }

    void startedWatchdogReceivesItsSixArguments()
    {
        const QString watchdog = writeArgumentRecorder(QStringLiteral("wddmp.exe"));
        QVERIFY(!watchdog.isEmpty());
        CDumpServer server;
        QVERIFY(server.StartDumpProcess(watchdog.toStdString(), 77, "p-", "/x/procdump", "/doc/log/", false));
        QFile args(watchdog + QStringLiteral(".args"));
        QTRY_VERIFY_WITH_TIMEOUT(args.exists(), 10000);
        QVERIFY(args.open(QIODevice::ReadOnly));
        const QByteArray record = QByteArray::fromStdString(CDumpServer::recordName(GetCurrentProcessId()));
        QCOMPARE(args.readAll(), QByteArray("77\np-\n/x/procdump\n/doc/log/\n" + record + "\n"));
    }

    void refusedLinesStartNothingAndAreTraced_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("logFolder");
        QTest::addColumn<QString>("reason");
        QTest::newRow("too long") << "p-" << QString(520, QLatin1Char('l')) << "more than 511";
        QTest::newRow("quote") << "Corvane Daskor-1\" \"--evil-"
                               << "/doc/log/"
                               << "double quote";
    }
    void refusedLinesStartNothingAndAreTraced()
    {
        QFETCH(QString, prefix);
        QFETCH(QString, logFolder);
        QFETCH(QString, reason);
        const QString tool = writeArgumentRecorder(QStringLiteral("refused-procdump"));
        QFile::remove(tool + QStringLiteral(".args"));
        const int tracedBefore = TraceLogFile::linesContaining("W:Demo dump process not started").size();

        CDumpServer server;
        QVERIFY(!server.StartDumpProcess("/x/wddmp.exe", 4242, prefix.toStdString(), tool.toStdString(),
                                         logFolder.toStdString(), true));
        const QList<QByteArray> traced = TraceLogFile::linesContaining("W:Demo dump process not started");
        QCOMPARE(traced.size(), tracedBefore + 1);
        QVERIFY2(traced.last().contains(reason.toUtf8()), traced.last().constData());

        // A started tool would have written its arguments by now.
        QTest::qWait(1500);
        QVERIFY(!QFile::exists(tool + QStringLiteral(".args")));
    }

    void missingToolIsReportedAsFailure()
    {
        CDumpServer server;
        QVERIFY(!server.StartDumpProcess(
            "/x/wddmp.exe", 4242, "p-", m_toolDir.path().toStdString() + "/no-such-tool", "/doc/log/", true));
    }

    void recordLifecycleSeenFromASecondMapping()
    {
        QFile::remove(stampPath());
        CDumpServer server;
        QVERIFY(!server.hasHandle());
        QVERIFY(!server.isMapped());

        StdoutCapture capture;
        const int64_t before = time(nullptr);
        const bool opened = server.OpenShareMemory();
        const int64_t after = time(nullptr);
        QCOMPARE(capture.finish(), QByteArray("open sharememory success"));
        QVERIFY(opened);
        QVERIFY(server.hasHandle());
        QVERIFY(server.isMapped());

        QFileInfo record(ownRecordPath());
        QVERIFY(record.exists());
        QCOMPARE(record.size(), qint64(8));
        QCOMPARE(record.permissions() & (QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                         QFileDevice::ReadOther | QFileDevice::WriteOther),
                 QFileDevice::Permissions());

        RecordReader reader;
        QVERIFY(reader.isOpen());
        QVERIFY(reader.value() >= before && reader.value() <= after);
        // Opening also stamped the liveness file.
        QVERIFY(QFile::exists(stampPath()));

        server.ClearTime();
        QCOMPARE(reader.value(), int64_t(0));
        server.UpdateTime();
        QVERIFY(reader.value() >= before && reader.value() <= time(nullptr));
        server.ClearTime();
        QCOMPARE(reader.value(), int64_t(0));

        server.CloseShareMemory();
        QVERIFY(!server.hasHandle());
        QVERIFY(!server.isMapped());
        QVERIFY(!QFile::exists(ownRecordPath()));
        // Closed: nothing is written any more, and closing again is harmless.
        server.UpdateTime();
        server.ClearTime();
        server.CloseShareMemory();
        QCOMPARE(reader.value(), int64_t(0));
    }

    void openingTwiceKeepsTheRecordTheWatchdogSees()
    {
        CDumpServer server;
        StdoutCapture capture;
        QVERIFY(server.OpenShareMemory());
        RecordReader watchdog;
        QVERIFY(watchdog.isOpen());
        server.ClearTime();
        QVERIFY(server.OpenShareMemory());
        QCOMPARE(capture.finish(), QByteArray("open sharememory successopen sharememory success"));
        // The second opening wrote into the same object the watchdog holds, through the same view.
        QVERIFY(watchdog.value() > 0);
        QFile maps(QStringLiteral("/proc/self/maps"));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        const QByteArray record = QByteArray::fromStdString(CDumpServer::recordName(GetCurrentProcessId()));
        QCOMPARE(maps.readAll().count("/" + record + "\n"), 2); // the server's view and the watchdog's
        server.ClearTime();
        QCOMPARE(watchdog.value(), int64_t(0));
        server.CloseShareMemory();
        QVERIFY(!QFile::exists(ownRecordPath()));
    }

    void heartbeatIsNeverSeenHalfWritten()
    {
        CDumpServer server;
        StdoutCapture capture;
        QVERIFY(server.OpenShareMemory());
        capture.finish();
        RecordReader reader;
        QVERIFY(reader.isOpen());

        const int64_t start = time(nullptr);
        std::atomic<bool> done(false);
        std::atomic<int64_t> bad(-1);
        std::thread watcher([&] {
            while (!done.load()) {
                const int64_t v = reader.atomicValue();
                if (v != 0 && (v < start || v > start + 60))
                    bad.store(v);
            }
        });
        for (int i = 0; i < 200000; ++i) {
            if (i % 2)
                server.UpdateTime();
            else
                server.ClearTime();
        }
        done.store(true);
        watcher.join();
        server.CloseShareMemory();
        QCOMPARE(bad.load(), int64_t(-1));
    }

    void mappingFailureLeavesAHalfOpenServerThatCloses()
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--open-without-address-space")});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.readAllStandardOutput(), QByteArray("map sharememory failed"));
        QCOMPARE(child.exitCode(), 0);
    }

    void recordThatCannotBeOpenedLeavesTheServerClosed()
    {
        // Something that is not a shared-memory object already holds the name.
        const QString blocker = ownRecordPath();
        QVERIFY(QDir().mkdir(blocker));
        CDumpServer server;
        StdoutCapture capture;
        const bool opened = server.OpenShareMemory();
        const QByteArray printed = capture.finish();
        QDir().rmdir(blocker);
        QVERIFY(!opened);
        QCOMPARE(printed, QByteArray("open sharememory failed"));
        QVERIFY(!server.hasHandle());
        QVERIFY(!server.isMapped());
        server.ClearTime();
        server.CloseShareMemory();
    }

    void crashOfAProgramIsDumpedIntoItsLogFolder()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QString logFolder = home.path() + QStringLiteral("/log/");
        QVERIFY(QDir().mkpath(logFolder));
        const QString root = qEnvironmentVariable("TARN_TEST_ROOT");
        QProcess dumpee;
        // In sanitizer builds the fault must still reach the kernel and the dump tool.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("handle_segv=0:handle_abort=0"));
        dumpee.setProcessEnvironment(environment);
        dumpee.start(QStringLiteral(TARN_DUMPEE_PATH), {root, logFolder});
        QVERIFY(dumpee.waitForStarted(10000));
        const qint64 pid = dumpee.processId();
        QVERIFY(dumpee.waitForFinished(60000));
        QCOMPARE(dumpee.exitStatus(), QProcess::CrashExit);

        const QRegularExpression name(
            QStringLiteral("^Corvane Daskor-1\\.0\\.0\\.5-\\(%1\\)-\\d{8}-\\d{6}\\(e\\)\\.dmp$").arg(pid));
        QStringList dumps;
        QTRY_VERIFY_WITH_TIMEOUT(
            (dumps = QDir(logFolder).entryList({QStringLiteral("*.dmp")}, QDir::Files)).size() == 1 &&
                QFile::exists(logFolder + dumps.first() + QStringLiteral(".txt")),
            30000);
        QVERIFY2(name.match(dumps.first()).hasMatch(), qPrintable(dumps.first()));
        QFile trace(logFolder + dumps.first() + QStringLiteral(".txt"));
        QVERIFY(trace.open(QIODevice::ReadOnly));
        const QByteArray text = trace.readAll();
        QVERIFY2(text.contains("failHere") && text.contains(" in main"), text.constData());
        // The tool removes the record the crashed program left behind.
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(QStringLiteral("/dev/shm/wddmpsharememory%1").arg(pid)),
                                 30000);
    }

    void recordCreatedByTheWatchdogFirstIsOpened()
    {
        const std::string name = "/" + CDumpServer::recordName(GetCurrentProcessId());
        const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        QVERIFY(fd >= 0);
        QCOMPARE(ftruncate(fd, 8), 0);
        ::close(fd);

        CDumpServer server;
        StdoutCapture capture;
        const bool opened = server.OpenShareMemory();
        QCOMPARE(capture.finish(), QByteArray("open sharememory success"));
        QVERIFY(opened);
        RecordReader reader;
        QVERIFY(reader.value() > 0);
        server.CloseShareMemory();
        QVERIFY(!QFile::exists(ownRecordPath()));
    }

    void stampFileIsCreatedWhenMissing()
    {
        QFile::remove(stampPath());
        CDumpServer server;
        server.WriteWatchdogFile();
        QFile stamp(stampPath());
        QVERIFY(stamp.open(QIODevice::ReadOnly));
        const QByteArray text = stamp.readAll();
        QCOMPARE(text.size(), 19);
        QVERIFY2(kStampText.match(QString::fromUtf8(text)).hasMatch(), text.constData());
        const QDateTime written =
            QDateTime::fromString(QString::fromUtf8(text), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QVERIFY(qAbs(written.secsTo(QDateTime::currentDateTime())) <= 5);
    }

    void stampFileKeepsItsTail()
    {
        const QByteArray old = "1999-01-01 00:00:00 and the tail after it\nsecond line\n";
        {
            QFile stamp(stampPath());
            QVERIFY(stamp.open(QIODevice::WriteOnly | QIODevice::Truncate));
            stamp.write(old);
        }
        CDumpServer server;
        server.WriteWatchdogFile();
        QFile stamp(stampPath());
        QVERIFY(stamp.open(QIODevice::ReadOnly));
        const QByteArray text = stamp.readAll();
        QCOMPARE(text.size(), old.size());
        QCOMPARE(text.mid(19), old.mid(19));
        QVERIFY(kStampText.match(QString::fromUtf8(text.left(19))).hasMatch());
        QVERIFY(!text.startsWith("1999"));
    }
};

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "--open-without-address-space") == 0)
        return openWithoutAddressSpace();
    QCoreApplication app(argc, argv);
    TestDumpServer test;
    return QTest::qExec(&test, argc, argv);
}
#include "CDumpServerTest.moc"
