#include "ProgramProcesses.h"
#include "ProgramRun.h"
#include "Wait.h"
#include "XDesktop.h"

#include <QDateTime>
#include <QFile>
#include <QRandomGenerator>
#include <QThread>
#include <QtTest>

#include <signal.h>

namespace {

QString recordPath(qint64 pid)
{
    return QStringLiteral("/dev/shm/wddmpsharememory%1").arg(pid);
}

QString logFile(const ProgramRun &run)
{
    return run.dataDir() + QStringLiteral("/tarn-desktop/log/tarn-desktop.log");
}

// Watches the log from the given size on for a line of the running process with the given text.
bool waitForLogText(const ProgramRun &run, qint64 from, const QByteArray &text, int ms)
{
    const QByteArray marker = ' ' + QByteArray::number(run.pid()) + ':';
    QFile file(logFile(run));
    QByteArray seen;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        if (!file.isOpen() && !file.open(QIODevice::ReadOnly)) {
            QThread::usleep(200);
            continue;
        }
        if (file.size() > from + seen.size()) {
            file.seek(from + seen.size());
            seen += file.readAll();
            for (const QByteArray &line : seen.split('\n')) {
                if (line.contains(marker) && line.endsWith(text)) {
                    return true;
                }
            }
        }
        QThread::usleep(200);
    }
    return false;
}

bool waitUntilMissing(const QString &path, int ms)
{
    return Wait::until([&path] { return !QFile::exists(path); }, ms);
}

} // namespace

// kill -9 at random moments of bring-up and teardown; after each, a normal start must run to its
// orderly end whatever the killed process left behind.
class KillTest : public QObject
{
    Q_OBJECT

private:
    XDesktop m_x;
    QString m_root;
    QRandomGenerator m_random;
    int m_killedLive = 0;
    int m_withDumpTool = 0;
    QStringList m_leftRecords;

    // Kills the running process; returns false (with the reason in *why) when anything it leaves
    // behind is not cleaned up.
    bool killAndCheck(ProgramRun &run, QString *why, const QList<qint64> *known = nullptr)
    {
        const qint64 pid = run.pid();
        const QList<qint64> watchers = known ? *known : ProgramProcesses::watchersOf(pid);
        ::kill(static_cast<pid_t>(pid), SIGKILL);
        if (!run.wait(30000)) {
            *why = QStringLiteral("process %1 did not end after kill -9").arg(pid);
            return false;
        }
        if (run.crashed()) {
            ++m_killedLive;
        }
        // A watcher may have been starting at the moment of the kill.
        const QList<qint64> all = watchers + ProgramProcesses::watchersOf(pid);
        if (!ProgramProcesses::waitUntilGone(all, 30000)) {
            *why = QStringLiteral("a dump tool or watchdog outlived its killed target %1").arg(pid);
            return false;
        }
        if (!watchers.isEmpty()) {
            ++m_withDumpTool;
            if (!waitUntilMissing(recordPath(pid), 10000)) {
                *why = QStringLiteral("heartbeat record of killed %1 left behind while the dump tool ran")
                           .arg(pid);
                return false;
            }
        }
        // Killed before its dump tool ran, nothing is left to remove the record; the next start must
        // not mind it, but the test does not leave it lying around.
        m_leftRecords << recordPath(pid);
        return true;
    }

    void normalStartSucceeds(ProgramRun &run)
    {
        QVERIFY(run.start({}, QStringLiteral("quit-after-ms=200")));
        QVERIFY2(run.wait(60000), run.standardError().constData());
        QVERIFY2(!run.crashed(), run.standardError().constData());
        QCOMPARE(run.exitCode(), 0);
        const QStringList texts = run.logTexts(run.pid());
        QVERIFY2(texts.contains(QStringLiteral("N:Demo stop service")), qPrintable(texts.join('\n')));
        QVERIFY(waitUntilMissing(recordPath(run.pid()), 10000));
    }

private slots:
    void initTestCase()
    {
        m_root = qEnvironmentVariable("TARN_ROOT_DIR");
        QVERIFY2(QFile::exists(m_root + "/tarn-desktop"), qPrintable("no program in " + m_root));
        QVERIFY2(QFile::exists(m_root + "/libtestability.so"), "the test library is not in the root");
        QVERIFY2(m_x.start(), qPrintable(m_x.error()));
        bool given = false;
        quint32 seed = qEnvironmentVariableIntValue("TARN_FAULT_SEED", &given);
        if (!given) {
            seed = static_cast<quint32>(QDateTime::currentMSecsSinceEpoch());
        }
        m_random.seed(seed);
        qInfo("random delays from seed %u (set TARN_FAULT_SEED to repeat)", seed);
    }
    void cleanupTestCase()
    {
        m_x.stop();
        for (const QString &path : qAsConst(m_leftRecords)) {
            QFile::remove(path);
        }
    }

    void killDuringBringUp()
    {
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        m_killedLive = 0;
        for (int round = 0; round < 12; ++round) {
            // The last rounds come close to zero, when the process has barely been created.
            const int delay = round >= 10 ? m_random.bounded(5) : m_random.bounded(1500);
            QVERIFY(run.start({}, QStringLiteral("quit-after-ms=30000")));
            QThread::msleep(static_cast<unsigned long>(delay));
            QString why;
            QVERIFY2(killAndCheck(run, &why), qPrintable(QStringLiteral("after %1 ms: ").arg(delay) + why));
            normalStartSucceeds(run);
            if (QTest::currentTestFailed()) {
                qWarning("normal start failed after a kill at %d ms", delay);
                return;
            }
        }
        // Every kill hit a live process: the program never ends before its quit on its own.
        QCOMPARE(m_killedLive, 12);
        qInfo("%d of 12 kills came while the dump tool ran", m_withDumpTool);
    }

    void killDuringTeardown()
    {
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        QVERIFY(run.writeConfig("system.ini", "[Syslog]\nnLogLevel=7\n"));
        m_killedLive = 0;
        for (int round = 0; round < 8; ++round) {
            QFile::remove(run.outputFile());
            const qint64 logSize = QFileInfo(logFile(run)).size();
            QVERIFY(run.start({}, QStringLiteral("ready,quit-after-ms=400")));
            // Looking for the watchers takes longer than the teardown, so it comes first.
            QVERIFY2(ProgramProcesses::waitForLine(run, "ready", 60000), run.output().constData());
            const QList<qint64> watchers = ProgramProcesses::watchersOf(run.pid());
            // The teardown lasts a few milliseconds: the kill follows its first log line closely.
            QVERIFY2(waitForLogText(run, logSize, "D:Modules NotificationMgr_UnInit", 60000),
                     "the teardown never began");
            const int delay = m_random.bounded(4);
            QThread::usleep(static_cast<unsigned long>(delay) * 1000 + m_random.bounded(1000));
            QString why;
            QVERIFY2(killAndCheck(run, &why, &watchers),
                     qPrintable(QStringLiteral("after %1 ms: ").arg(delay) + why));
            normalStartSucceeds(run);
            if (QTest::currentTestFailed()) {
                qWarning("normal start failed after a teardown kill at %d ms", delay);
                return;
            }
        }
        qInfo("%d of 8 teardown kills hit a live process", m_killedLive);
        QVERIFY2(m_killedLive > 0, "every kill came after the process had ended: none tested a teardown");
    }
};

QTEST_GUILESS_MAIN(KillTest)
#include "KillTest.moc"
