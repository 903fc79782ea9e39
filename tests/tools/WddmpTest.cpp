#include "ChildProcess.h"

#include <QtTest>

#include <elf.h>

#include <csignal>

namespace {

QString rootPath(const char *name)
{
    return qEnvironmentVariable("TARN_TEST_ROOT") + QLatin1Char('/') + QLatin1String(name);
}

QString crasherPath()
{
    return QStringLiteral(TARN_CRASHER_PATH);
}

QString recordName(pid_t pid)
{
    return QStringLiteral("wddmpsharememory%1").arg(pid);
}

const QString kPrefix = QStringLiteral("Corvane Daskor-1.0.0.5-");

} // namespace

class TestWddmp : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString freshLogFolder(const QString &name)
    {
        const QString folder = m_dir.path() + QLatin1Char('/') + name + QStringLiteral("/log/");
        QDir().mkpath(folder);
        return folder;
    }

    bool startWatchdog(ChildProcess &watchdog, pid_t pid, const QString &logFolder)
    {
        return watchdog.start(
            rootPath("wddmp.exe"),
            {QString::number(pid), kPrefix, rootPath("procdump"), logFolder, recordName(pid)},
            {QStringLiteral("TARN_WDDMP_HANG_SECONDS=2")});
    }

    static QStringList dumps(const QString &folder)
    {
        return QDir(folder).entryList({QStringLiteral("*.dmp")}, QDir::Files);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QFileInfo(rootPath("wddmp.exe")).isExecutable());
        QVERIFY(QFileInfo(rootPath("procdump")).isExecutable());
    }

    void rejectsOtherCommandLines_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("nothing") << QStringList();
        QTest::newRow("five") << QStringList{"12", "p-", "/x/procdump", "/log/"};
        QTest::newRow("seven") << QStringList{"12", "p-", "/x/procdump", "/log/", "wddmpsharememory12", "x"};
        QTest::newRow("pid not a number")
            << QStringList{"1x", "p-", "/x/procdump", "/log/", "wddmpsharememory12"};
        QTest::newRow("pid 0") << QStringList{"0", "p-", "/x/procdump", "/log/", "wddmpsharememory0"};
        QTest::newRow("prefix leads elsewhere")
            << QStringList{"12", "../../p-", "/x/procdump", "/log/", "wddmpsharememory12"};
        QTest::newRow("record is a path") << QStringList{"12", "p-", "/x/procdump", "/log/", "../etc/x"};
        QTest::newRow("empty record") << QStringList{"12", "p-", "/x/procdump", "/log/", ""};
    }
    void rejectsOtherCommandLines()
    {
        QFETCH(QStringList, arguments);
        ChildProcess watchdog;
        QVERIFY(watchdog.start(rootPath("wddmp.exe"), arguments));
        QVERIFY(watchdog.wait(10000));
        QCOMPARE(watchdog.exitCode(), 2);
        QVERIFY(watchdog.standardError().startsWith("usage: wddmp.exe"));
    }

    void hungProcessIsDumpedOnce()
    {
        const QString log = freshLogFolder(QStringLiteral("hang"));
        ChildProcess target;
        QVERIFY(target.start(crasherPath(), {QStringLiteral("stall")}));
        QTRY_VERIFY(QFile::exists(QStringLiteral("/dev/shm/") + recordName(target.pid())));
        ChildProcess watchdog;
        QVERIFY(startWatchdog(watchdog, target.pid(), log));

        // The heartbeat is fresh at first: no dump before the limit has passed.
        QTest::qWait(1000);
        QVERIFY(dumps(log).isEmpty());

        QTRY_COMPARE_WITH_TIMEOUT(dumps(log).size(), 1, 20000);
        const QString dump = dumps(log).first();
        const QRegularExpression name(
            QStringLiteral("^Corvane Daskor-1\\.0\\.0\\.5-\\(%1\\)-\\d{8}-\\d{6}\\(h\\)\\.dmp$")
                .arg(target.pid()));
        QVERIFY2(name.match(dump).hasMatch(), qPrintable(dump));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log + dump + QStringLiteral(".txt")), 20000);
        QFile core(log + dump);
        QVERIFY(core.open(QIODevice::ReadOnly));
        QVERIFY(core.read(4) == QByteArray(ELFMAG, SELFMAG));

        // The same stall gives no second dump, and the hung process lives on.
        QTest::qWait(4000);
        QCOMPARE(dumps(log).size(), 1);
        QVERIFY(!target.wait(0));
        QVERIFY(!watchdog.wait(0));

        target.signal(SIGTERM);
        QVERIFY(target.wait(10000));
        QVERIFY(watchdog.wait(10000));
        QCOMPARE(watchdog.exitCode(), 0);
        QFile::remove(QStringLiteral("/dev/shm/") + recordName(target.pid()));
    }

    void aNewStallAfterRecoveryIsDumpedAgain()
    {
        const QString log = freshLogFolder(QStringLiteral("twice"));
        ChildProcess target;
        QVERIFY(target.start(crasherPath(), {QStringLiteral("stall-twice")}));
        QTRY_VERIFY(QFile::exists(QStringLiteral("/dev/shm/") + recordName(target.pid())));
        ChildProcess watchdog;
        QVERIFY(startWatchdog(watchdog, target.pid(), log));
        QTRY_COMPARE_WITH_TIMEOUT(dumps(log).size(), 1, 20000);
        // The heartbeat comes back after 5 s and stops again: a second stall, a second dump.
        QTRY_COMPARE_WITH_TIMEOUT(dumps(log).size(), 2, 30000);
        target.signal(SIGTERM);
        QVERIFY(target.wait(10000));
        QVERIFY(watchdog.wait(10000));
        QCOMPARE(watchdog.exitCode(), 0);
        QCOMPARE(dumps(log).size(), 2);
        QFile::remove(QStringLiteral("/dev/shm/") + recordName(target.pid()));
    }

    void orderlyExitEndsTheWatch()
    {
        const QString log = freshLogFolder(QStringLiteral("cleared"));
        ChildProcess target;
        QVERIFY(target.start(crasherPath(), {QStringLiteral("cleared")}));
        QTest::qWait(300);
        ChildProcess watchdog;
        QVERIFY(startWatchdog(watchdog, target.pid(), log));
        QVERIFY(watchdog.wait(10000));
        QCOMPARE(watchdog.exitCode(), 0);
        QVERIFY(dumps(log).isEmpty());
        target.signal(SIGTERM);
        QVERIFY(target.wait(10000));
        QFile::remove(QStringLiteral("/dev/shm/") + recordName(target.pid()));
    }

    void vanishedProcessEndsTheWatch()
    {
        const QString log = freshLogFolder(QStringLiteral("gone"));
        ChildProcess target;
        QVERIFY(target.start(crasherPath(), {QStringLiteral("stall")}));
        QTest::qWait(300);
        ChildProcess watchdog;
        QVERIFY(startWatchdog(watchdog, target.pid(), log));
        target.signal(SIGKILL);
        QVERIFY(target.wait(10000));
        QVERIFY(watchdog.wait(10000));
        QCOMPARE(watchdog.exitCode(), 0);
        QVERIFY(dumps(log).isEmpty());
        QFile::remove(QStringLiteral("/dev/shm/") + recordName(target.pid()));
    }
};

QTEST_GUILESS_MAIN(TestWddmp)
#include "WddmpTest.moc"
