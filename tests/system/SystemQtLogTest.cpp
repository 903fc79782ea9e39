// The Qt log switch of the running program: edits of the per-user system.ini, in place and by rename,
// turn the redirection of Qt's messages into the trace off and on while the program runs.
#include "ProgramRun.h"
#include "Wait.h"
#include "XDesktop.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <cstdio>

namespace {

const QString kSwitchLine =
    QStringLiteral("N:qtLogOutput [qtLogControl::qtLogRedirect][redirect qt log result : %1]");
const QString kWarning = QStringLiteral("W:qtLogOutput Warning: testability warning ");

bool writeInPlace(const QString &path, const QByteArray &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    return file.write(text) == text.size();
}

// As editors save: a new file beside the old one, renamed over it.
bool writeByRename(const QString &path, const QByteArray &text)
{
    const QString temporary = path + QStringLiteral(".new");
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size()) {
        return false;
    }
    file.close();
    return std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) == 0;
}

// Milliseconds until the process's log holds the line for the n-th time, or -1.
qint64 waitForLine(const ProgramRun &run, const QString &line, int occurrence, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    return Wait::until([&] { return run.logTexts(run.pid()).count(line) >= occurrence; }, timeoutMs)
               ? clock.elapsed()
               : -1;
}

} // namespace

class SystemQtLogTest : public QObject
{
    Q_OBJECT

private:
    XDesktop m_x;
    QString m_root;

private slots:
    void initTestCase()
    {
        m_root = qEnvironmentVariable("TARN_ROOT_DIR");
        QVERIFY2(QFile::exists(m_root + "/libtestability.so"), "the test library is not in the root");
        QVERIFY2(m_x.start(), qPrintable(m_x.error()));
    }
    void cleanupTestCase() { m_x.stop(); }

    void editsOfTheSwitchApplyWhileRunning()
    {
        ProgramRun run(m_root, m_x.display());
        QVERIFY(run.isValid());
        const QString system = run.configDir() + "/tarn-desktop/system.ini";
        QVERIFY(run.writeConfig("system.ini", "[Syslog]\nnLogLevel=7\n"));
        QVERIFY(run.start({}, "qwarning-every-ms=50,quit-after-ms=60000"));

        // No switch value: the redirection is on from the start and warnings reach the log.
        QVERIFY2(waitForLine(run, kSwitchLine.arg(1), 1, 30000) >= 0, run.standardError().constData());
        QVERIFY(QTest::qWaitFor([&] { return run.logTexts(run.pid()).filter(kWarning).size() >= 3; }, 10000));

        QVERIFY(writeInPlace(system, "[Syslog]\nnLogLevel=7\nqtLogEnable=0\n"));
        const qint64 offAfter = waitForLine(run, kSwitchLine.arg(0), 1, 10000);
        QVERIFY2(offAfter >= 0, "switching off was not noticed");
        qInfo("switched off after %lld ms", offAfter);
        QVERIFY2(offAfter <= 1500, qPrintable(QString("switching off took %1 ms").arg(offAfter)));
        QTest::qWait(600);

        // A change that keeps the state (0 to -1) writes nothing.
        QVERIFY(writeByRename(system, "[Syslog]\nnLogLevel=7\nqtLogEnable=-1\n"));
        QTest::qWait(1200);

        QVERIFY(writeByRename(system, "[Syslog]\nnLogLevel=7\nqtLogEnable=5\n"));
        const qint64 onAfter = waitForLine(run, kSwitchLine.arg(1), 2, 10000);
        QVERIFY2(onAfter >= 0, "switching on by rename was not noticed");
        qInfo("switched on after %lld ms", onAfter);
        QVERIFY2(onAfter <= 1500, qPrintable(QString("switching on took %1 ms").arg(onAfter)));
        QVERIFY(QTest::qWaitFor(
            [&] {
                const QStringList texts = run.logTexts(run.pid());
                return texts.mid(texts.lastIndexOf(kSwitchLine.arg(1))).filter(kWarning).size() >= 3;
            },
            10000));

        QVERIFY(run.runOther({"uninstall"}, QString()) != -1000);
        QVERIFY2(run.wait(30000), run.standardError().constData());
        QCOMPARE(run.exitCode(), 0);

        // Between the two switch lines no warning reached the log, and exactly two switch lines were
        // written after the first: off, then on. The warnings of that time went to Qt's own output.
        const QStringList texts = run.logTexts(run.pid());
        QCOMPARE(texts.filter("[qtLogControl::qtLogRedirect]").size(), 3);
        const int off = texts.indexOf(kSwitchLine.arg(0));
        const int on = texts.lastIndexOf(kSwitchLine.arg(1));
        QVERIFY(off > 0 && on > off);
        QVERIFY(!texts.mid(0, off).filter(kWarning).isEmpty());
        QCOMPARE(texts.mid(off, on - off).filter(kWarning).size(), 0);
        QVERIFY(!texts.mid(on).filter(kWarning).isEmpty());
        QVERIFY2(run.standardError().contains("testability warning"), "warnings while off went nowhere");
    }
};

QTEST_GUILESS_MAIN(SystemQtLogTest)
#include "SystemQtLogTest.moc"
