#include "ProgramProcesses.h"
#include "ProgramRun.h"
#include "XDesktop.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kNoDisplayLine[] =
    "tarn-desktop: cannot start: no display (DISPLAY is not set). Start it from a desktop session.";

// The result of one run: its exit code, or -1000 when it had to be killed, -1001 when it crashed.
struct Outcome
{
    int code = -1000;
    qint64 pid = 0;
    QByteArray standardError;
    qint64 elapsed = 0;
};

Outcome runProgram(const QString &program, const QStringList &arguments, const QProcessEnvironment &env,
                   int ms = 60000)
{
    Outcome outcome;
    QProcess process;
    process.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) {
        outcome.standardError = process.errorString().toUtf8();
        return outcome;
    }
    outcome.pid = process.processId();
    if (!process.waitForFinished(ms)) {
        process.kill();
        process.waitForFinished(5000);
    } else {
        outcome.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1001;
    }
    outcome.elapsed = clock.elapsed();
    outcome.standardError = process.readAllStandardError();
    return outcome;
}

QStringList asNobody(const QString &program)
{
    return {"--reuid=nobody", "--regid=nogroup", "--clear-groups", program};
}

bool giveToNobody(const QString &path)
{
    QProcess chown;
    chown.start("chown", {"-R", "nobody:nogroup", path});
    return chown.waitForFinished(30000) && chown.exitCode() == 0;
}

bool setMode(const QString &path, int mode)
{
    return ::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode)) == 0;
}

QByteArray junk(QRandomGenerator &random, int size)
{
    // Bytes of every value, with enough brackets, equals signs and line ends to look half like a file.
    static const char kShapes[] = "[]=\n\r\0;#";
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) {
        bytes[i] = random.bounded(4) == 0 ? kShapes[random.bounded(int(sizeof(kShapes)))]
                                          : static_cast<char>(random.bounded(256));
    }
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace

class FaultTest : public QObject
{
    Q_OBJECT

private:
    XDesktop m_x;
    QString m_root;

    void checkOrderlyEnd(const ProgramRun &run, const Outcome &outcome)
    {
        QVERIFY2(outcome.code == 0, qPrintable(QStringLiteral("exit %1: ").arg(outcome.code) +
                                               QString::fromLocal8Bit(outcome.standardError)));
        const QStringList texts = run.logTexts(outcome.pid);
        QVERIFY2(texts.contains(QStringLiteral("N:Demo stop service")), qPrintable(texts.join('\n')));
        QVERIFY(!texts.isEmpty());
        QCOMPARE(texts.last(), QStringLiteral("N:Demo app exit"));
    }

private slots:
    void initTestCase()
    {
        m_root = qEnvironmentVariable("TARN_ROOT_DIR");
        QVERIFY2(QFile::exists(m_root + "/tarn-desktop"), qPrintable("no program in " + m_root));
        QVERIFY2(QFile::exists(m_root + "/libtestability.so"), "the test library is not in the root");
        QVERIFY2(::geteuid() == 0, "mounting a full disk and running as another user need root");
        QVERIFY2(m_x.start(), qPrintable(m_x.error()));
    }
    void cleanupTestCase() { m_x.stop(); }

    void fullDiskForTheLog()
    {
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        const QString logDir = run.dataDir() + "/tarn-desktop/log";
        QVERIFY(QDir().mkpath(logDir));
        // The small file system exists only in the program's own mount namespace, so nothing is left
        // mounted whatever happens to this test.
        const QString script = QStringLiteral("mount -t tmpfs -o size=64k,mode=0700 tmpfs \"$1\" || exit 96\n"
                                              "head -c 1048576 /dev/zero > \"$1/fill\" 2>/dev/null\n"
                                              "[ \"$(stat -f -c %a \"$1\")\" = 0 ] || exit 97\n"
                                              "exec \"$2\"\n");
        const Outcome outcome = runProgram(
            "unshare",
            {"-m", "--propagation", "private", "sh", "-c", script, "sh", logDir, m_root + "/tarn-desktop"},
            run.environment("ready,report-after-ms=500,quit-after-ms=800"));
        QVERIFY2(outcome.code != 96, "tmpfs cannot be mounted here");
        QVERIFY2(outcome.code != 97, "the log file system did not fill up");
        QVERIFY2(outcome.code == 0, qPrintable(QStringLiteral("exit %1: ").arg(outcome.code) +
                                               QString::fromLocal8Bit(outcome.standardError)));
        QVERIFY2(run.output().contains("ready\n"), run.output().constData());
        QVERIFY2(run.output().contains("visible=1\n"), run.output().constData());
    }

    void unreadableOrMissingFiles_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<bool>("missing");
        QTest::newRow("resource folder unreadable") << "resource" << false;
        QTest::newRow("resource folder missing") << "resource" << true;
        QTest::newRow("installed config unreadable") << "config" << false;
        QTest::newRow("installed config missing") << "config" << true;
        QTest::newRow("user config files unreadable") << "user-files" << false;
        QTest::newRow("user config folder unreadable") << "user-folder" << false;
        QTest::newRow("profile unreadable") << "profile" << false;
        QTest::newRow("profile folder unreadable") << "profile-folder" << false;
        QTest::newRow("profile folder missing") << "profile-folder" << true;
    }
    void unreadableOrMissingFiles()
    {
        // Root reads everything whatever the modes say, so these runs are of an ordinary user.
        QFETCH(QString, what);
        QFETCH(bool, missing);
        QTemporaryDir copy("/tmp/tarn-faults-root-XXXXXX");
        QVERIFY(copy.isValid());
        QVERIFY(ProgramProcesses::copyRoot(m_root, copy.path()));

        ProgramRun run(copy.path(), m_x.display());
        QVERIFY(run.isValid());
        const QString userDir = run.configDir() + "/tarn-desktop";
        QVERIFY(run.writeConfig("system.ini", "[Syslog]\nnLogLevel=7\n"));
        QVERIFY(run.writeConfig("version.ini", "[Version]\nProductVersion=2.3.4.5\n"));
        QVERIFY(writeFile(userDir + "/Config/UserData.ini", "[Language]\nstrWebLanguage=German\n"));
        QVERIFY(giveToNobody(run.home()));

        QString target;
        if (what == "resource" || what == "config") {
            target = copy.path() + "/" + what;
        } else if (what == "user-files") {
            target = userDir + "/system.ini";
        } else if (what == "user-folder") {
            target = userDir;
        } else if (what == "profile") {
            target = userDir + "/Config/UserData.ini";
        } else {
            target = userDir + "/Config";
        }
        if (missing) {
            QVERIFY(QDir(target).removeRecursively());
        } else {
            QVERIFY(setMode(target, 0));
            if (what == "user-files") {
                QVERIFY(setMode(userDir + "/version.ini", 0));
            }
        }

        const Outcome outcome = runProgram("setpriv", asNobody(copy.path() + "/tarn-desktop"),
                                           run.environment("ready,quit-after-ms=500"));
        checkOrderlyEnd(run, outcome);
        QVERIFY2(run.output().contains("ready\n"), run.output().constData());
    }

    void binaryJunkInSettings()
    {
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        QRandomGenerator random(20261208);
        for (int round = 0; round < 3; ++round) {
            const int size = round == 0 ? 64 : 16384 * round;
            QVERIFY(run.writeConfig("system.ini", junk(random, size)));
            QVERIFY(run.writeConfig("version.ini", junk(random, size)));
            QVERIFY(writeFile(run.configDir() + "/tarn-desktop/Config/UserData.ini", junk(random, size)));
            const Outcome outcome = runProgram(
                m_root + "/tarn-desktop", {}, run.environment("ready,report-after-ms=300,quit-after-ms=500"));
            checkOrderlyEnd(run, outcome);
            QVERIFY2(run.output().contains("visible=1\n"), run.output().constData());
            QFile::remove(run.outputFile());
        }
    }

    void missingDumpTool()
    {
        QTemporaryDir copy("/tmp/tarn-faults-root-XXXXXX");
        QVERIFY(copy.isValid());
        QVERIFY(ProgramProcesses::copyRoot(m_root, copy.path(), {"procdump"}));
        QVERIFY(!QFile::exists(copy.path() + "/procdump"));

        ProgramRun run(copy.path(), m_x.display());
        QVERIFY(run.isValid());
        QVERIFY(run.writeConfig("system.ini", "[Syslog]\nnLogLevel=7\n"));
        const Outcome outcome =
            runProgram(copy.path() + "/tarn-desktop", {},
                       run.environment("observe-heartbeat,report-after-ms=2200,quit-after-ms=2500"));
        checkOrderlyEnd(run, outcome);
        const QByteArray output = run.output();
        QVERIFY2(output.contains("visible=1\n"), output.constData());
        // Without the dump tool the heartbeat timer never starts: the record keeps the time it was
        // opened at, over more than two periods of the timer.
        QRegularExpression beat("^heartbeat=(\\d+)$", QRegularExpression::MultilineOption);
        QStringList values;
        auto it = beat.globalMatch(QString::fromUtf8(output));
        while (it.hasNext()) {
            values << it.next().captured(1);
        }
        QVERIFY2(values.size() >= 4, output.constData());
        QVERIFY2(values.first().toLongLong() > 1700000000LL, output.constData());
        QCOMPARE(values.count(values.first()), values.size());
        QVERIFY(!QFile::exists(QStringLiteral("/dev/shm/wddmpsharememory%1").arg(outcome.pid)));
    }

    void noTrayHost()
    {
        QProcess xvfb;
        xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        QVERIFY(xvfb.waitForStarted(5000));
        auto stop = qScopeGuard([&] {
            xvfb.terminate();
            if (!xvfb.waitForFinished(3000)) {
                xvfb.kill();
                xvfb.waitForFinished(3000);
            }
        });
        QByteArray number;
        QElapsedTimer clock;
        clock.start();
        while (!number.contains('\n') && clock.elapsed() < 15000 && xvfb.state() == QProcess::Running) {
            xvfb.waitForReadyRead(200);
            number += xvfb.readAllStandardOutput();
        }
        QVERIFY2(number.contains('\n'), xvfb.readAllStandardError().constData());

        ProgramRun run(m_root, ":" + QString::fromLatin1(number.trimmed()));
        QVERIFY(run.isValid());
        const Outcome outcome = runProgram(m_root + "/tarn-desktop", {},
                                           run.environment("report-after-ms=800,quit-after-ms=1000"));
        checkOrderlyEnd(run, outcome);
        QVERIFY2(run.output().contains("tray-available=0\n"), run.output().constData());
        QVERIFY2(run.output().contains("visible=1\n"), run.output().constData());
    }

    void noSessionBus_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("unset") << QString();
        QTest::newRow("pointing nowhere") << QStringLiteral("unix:path=/nonexistent/tarn-faults-bus");
    }
    void noSessionBus()
    {
        QFETCH(QString, address);
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        QProcessEnvironment env = run.environment("report-after-ms=800,quit-after-ms=1000");
        env.remove("DBUS_SESSION_BUS_ADDRESS");
        if (!address.isEmpty()) {
            env.insert("DBUS_SESSION_BUS_ADDRESS", address);
        }
        const Outcome outcome = runProgram(m_root + "/tarn-desktop", {}, env);
        checkOrderlyEnd(run, outcome);
        QVERIFY2(run.output().contains("visible=1\n"), run.output().constData());
    }

    void noDisplay_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<bool>("explained");
        QTest::newRow("DISPLAY unset") << QString() << true;
        QTest::newRow("DISPLAY empty") << QStringLiteral("") << true;
        QTest::newRow("display that does not answer") << QStringLiteral(":9731") << false;
    }
    void noDisplay()
    {
        QFETCH(QString, display);
        QFETCH(bool, explained);
        QVERIFY(!QFile::exists("/tmp/.X11-unix/X9731"));
        ProgramRun run(m_root, QString());
        QVERIFY(run.isValid());
        QProcessEnvironment env = run.environment("quit-after-ms=500");
        env.remove("QT_QPA_PLATFORM");
        env.remove("WAYLAND_DISPLAY");
        env.remove("DISPLAY");
        if (!display.isNull()) {
            env.insert("DISPLAY", display);
        }
        const QDateTime started = QDateTime::currentDateTime().addSecs(-1);
        const Outcome outcome = runProgram(m_root + "/tarn-desktop", {}, env, 30000);
        QVERIFY2(outcome.code != -1000, "the program hung without a display");
        QVERIFY2(outcome.code != 0, outcome.standardError.constData());
        if (explained) {
            QCOMPARE(outcome.code, 1);
            QVERIFY2(outcome.standardError.startsWith(QByteArray(kNoDisplayLine) + '\n'),
                     outcome.standardError.constData());
            QVERIFY(!outcome.standardError.contains("Reinstalling"));
            // It ended before anything started: no dump tool, no record, no registration of an instance.
            // Process ids are reused, so a record of that name may be left from an earlier process
            // killed before its dump tool ran; this run must not have written one.
            const QFileInfo record(QStringLiteral("/dev/shm/wddmpsharememory%1").arg(outcome.pid));
            QVERIFY2(!record.exists() || record.lastModified() < started,
                     qPrintable(record.lastModified().toString(Qt::ISODateWithMs)));
            QVERIFY(ProgramProcesses::watchersOf(outcome.pid).isEmpty());
        } else {
            QVERIFY2(outcome.standardError.contains("could not connect to display"),
                     outcome.standardError.constData());
        }
    }

    void platformChosenOnTheCommandLineIsLeftToQt()
    {
        // With -platform given there is a display to try, so the program must not refuse on its own.
        ProgramRun run(m_root, QString());
        QVERIFY(run.isValid());
        QProcessEnvironment env = run.environment("quit-after-ms=300");
        env.remove("QT_QPA_PLATFORM");
        env.remove("WAYLAND_DISPLAY");
        env.remove("DISPLAY");
        const Outcome outcome = runProgram(m_root + "/tarn-desktop", {"-platform", "offscreen"}, env);
        QVERIFY2(!outcome.standardError.contains("cannot start"), outcome.standardError.constData());
        checkOrderlyEnd(run, outcome);
    }
};

QTEST_GUILESS_MAIN(FaultTest)
#include "FaultTest.moc"
