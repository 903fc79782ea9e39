#include "ETLLib.h"
#include "TraceLogFile.h"
#include "chThreadLocal.h"
#include "msgObject.h"
#include "qtLogControl.h"
#include "uCTraceHelper.h"

#include <QtTest>

#include <cstring>
#include <thread>
#include <vector>

namespace {

const QByteArray kSwitchLineOn = "N:qtLogOutput [qtLogControl::qtLogRedirect][redirect qt log result : 1]";
const QByteArray kSwitchLineOff = "N:qtLogOutput [qtLogControl::qtLogRedirect][redirect qt log result : 0]";

QString userSystemIni()
{
    return QString::fromStdString(etlGetAppDataRootPath() + "/system.ini");
}

void writeSwitch(const QByteArray &value)
{
    QDir().mkpath(QString::fromStdString(etlGetAppDataRootPath()));
    QFile ini(userSystemIni());
    ini.open(QIODevice::WriteOnly | QIODevice::Truncate);
    if (value.isNull())
        ini.write("[Syslog]\nnLogLevel=5\n");
    else
        ini.write("[Syslog]\nqtLogEnable=" + value + "\n");
}

void dummyHandler(QtMsgType, const QMessageLogContext &, const QString &) {}

// The handler Qt calls now; the one found is put back.
QtMessageHandler installedHandler()
{
    const QtMessageHandler current = qInstallMessageHandler(&dummyHandler);
    qInstallMessageHandler(current);
    return current;
}

int countLines(const QByteArray &needle)
{
    return TraceLogFile::linesContaining(needle).size();
}

int countLinesEndingWith(const QByteArray &tail)
{
    int n = 0;
    for (const QByteArray &line : TraceLogFile::linesContaining(tail))
        if (line.endsWith(tail))
            ++n;
    return n;
}

// Run in a child process of this test: redirect, then raise a fatal message.
int raiseFatalInChild()
{
    TraceLogFile::useTestDocFolder();
    qtLogControl *control = new qtLogControl;
    control->qtLogRedirect();
    QMessageLogger("fatal.cpp", 13, "void g()").fatal("fatal text %d", 7);
    return 0;
}

} // namespace

class TestQtLogControl : public QObject
{
    Q_OBJECT

private:
    QtMessageHandler m_testHandler = nullptr;

private slots:
    void initTestCase()
    {
        TraceLogFile::useTestDocFolder();
        uCTraceHelper::getInstance().ResetTraceLevel(5);
    }

    void init() { m_testHandler = installedHandler(); }
    void cleanup()
    {
        QFile::remove(userSystemIni());
        qInstallMessageHandler(m_testHandler);
        uCTraceHelper::getInstance().ResetTraceLevel(5);
    }

    void startupFollowsTheSwitch_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("no file") << QByteArray() << true;
        QTest::newRow("no key") << QByteArray("") << true;
        QTest::newRow("1") << QByteArray("1") << true;
        QTest::newRow("0") << QByteArray("0") << false;
        QTest::newRow("-1") << QByteArray("-1") << false;
        QTest::newRow("5") << QByteArray("5") << true;
    }
    void startupFollowsTheSwitch()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, enabled);
        if (value.isNull())
            QFile::remove(userSystemIni());
        else
            writeSwitch(value.isEmpty() ? QByteArray() : value);

        const int onBefore = countLines(kSwitchLineOn);
        const int offBefore = countLines(kSwitchLineOff);
        qtLogControl control;
        QVERIFY(!control.redirectEnabled());
        control.qtLogRedirect();
        QCOMPARE(control.redirectEnabled(), enabled);
        QCOMPARE(countLines(kSwitchLineOn), onBefore + (enabled ? 1 : 0));
        QCOMPARE(countLines(kSwitchLineOff), offBefore + (enabled ? 0 : 1));

        const QtMessageHandler handler = installedHandler();
        if (enabled) {
            QVERIFY(handler == &qtLogControl::qtLogOutput);
        } else {
            // Qt's own default handler, not ours and not the one installed before.
            QVERIFY(handler != &qtLogControl::qtLogOutput);
            QVERIFY(handler != m_testHandler);
            QVERIFY(handler != nullptr);
        }
    }

    void changeWithinTheSameStateDoesNothing()
    {
        writeSwitch("1");
        qtLogControl control;
        control.qtLogRedirect();
        const int before = countLines("N:qtLogOutput");
        writeSwitch("2");
        msgObject msg;
        QCOMPARE(control.onLogSwitchMessage(msg), 0);
        QCOMPARE(countLines("N:qtLogOutput"), before);
        QVERIFY(installedHandler() == &qtLogControl::qtLogOutput);
        QVERIFY(control.redirectEnabled());
    }

    void switchingOffAndOnAgain()
    {
        writeSwitch("1");
        qtLogControl control;
        control.qtLogRedirect();
        msgObject msg;

        const int offBefore = countLines(kSwitchLineOff);
        writeSwitch("0");
        QCOMPARE(control.onLogSwitchMessage(msg), 1);
        QVERIFY(!control.redirectEnabled());
        QCOMPARE(countLines(kSwitchLineOff), offBefore + 1);
        const QtMessageHandler handler = installedHandler();
        QVERIFY(handler != &qtLogControl::qtLogOutput && handler != nullptr && handler != m_testHandler);

        // Off to off: nothing more.
        writeSwitch("-3");
        QCOMPARE(control.onLogSwitchMessage(msg), 0);
        QCOMPARE(countLines(kSwitchLineOff), offBefore + 1);

        const int onBefore = countLines(kSwitchLineOn);
        QFile::remove(userSystemIni());
        QCOMPARE(control.onLogSwitchMessage(msg), 1);
        QVERIFY(control.redirectEnabled());
        QCOMPARE(countLines(kSwitchLineOn), onBefore + 1);
        QVERIFY(installedHandler() == &qtLogControl::qtLogOutput);
    }

    void editedSwitchArrivesThroughTheRuntime()
    {
        writeSwitch("1");
        chThreadLocal thread("qt_log_test_thread");
        QVERIFY(thread.AttachCurrentThread());
        {
            qtLogControl control;
            control.qtLogRedirect();
            QVERIFY(control.redirectEnabled());
            const int offBefore = countLines(kSwitchLineOff);

            writeSwitch("0");
            QElapsedTimer timer;
            timer.start();
            while (control.redirectEnabled() && timer.elapsed() < 10000)
                thread.DispatchQueuedMessage(100);
            QVERIFY(!control.redirectEnabled());
            QCOMPARE(countLines(kSwitchLineOff), offBefore + 1);
            QVERIFY(installedHandler() != &qtLogControl::qtLogOutput);

            writeSwitch("3");
            timer.restart();
            while (!control.redirectEnabled() && timer.elapsed() < 10000)
                thread.DispatchQueuedMessage(100);
            QVERIFY(control.redirectEnabled());
            QVERIFY(installedHandler() == &qtLogControl::qtLogOutput);
        }
        // The control is gone: a later edit must not reach it.
        writeSwitch("0");
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 2000)
            thread.DispatchQueuedMessage(100);
        QVERIFY(thread.DetachThread());
    }

    void linesForEachMessageType()
    {
        const QList<QByteArray> expected = {" W:qtLogOutput Warning: x (f:10, g)",
                                            " W:qtLogOutput Critical: y (f:11, g)",
                                            " D:qtLogOutput z (f:12, g)", " I:qtLogOutput i (f:14, g)"};
        QList<int> before;
        for (const QByteArray &tail : expected)
            before.append(countLinesEndingWith(tail));
        qInstallMessageHandler(&qtLogControl::qtLogOutput);
        uCTraceHelper::getInstance().ResetTraceLevel(7);
        QMessageLogger("f", 10, "g").warning("x");
        QMessageLogger("f", 11, "g").critical("y");
        QMessageLogger("f", 12, "g").debug("z");
        QMessageLogger("f", 14, "g").info("i");
        qInstallMessageHandler(m_testHandler);
        for (int i = 0; i < expected.size(); ++i)
            QVERIFY2(countLinesEndingWith(expected.at(i)) == before.at(i) + 1, expected.at(i).constData());
    }

    void debugAndInfoFollowTheTraceLevel()
    {
        const QByteArray token = QByteArray::number(QCoreApplication::applicationPid());
        uCTraceHelper::getInstance().ResetTraceLevel(5);
        const QMessageLogContext context("f", 20, "g", "default");
        qtLogControl::qtLogOutput(QtDebugMsg, context, QString::fromLatin1("quiet debug " + token));
        qtLogControl::qtLogOutput(QtInfoMsg, context, QString::fromLatin1("quiet info " + token));
        qtLogControl::qtLogOutput(QtWarningMsg, context, QString::fromLatin1("loud warning " + token));
        QCOMPARE(countLines("quiet debug " + token), 0);
        QCOMPARE(countLines("quiet info " + token), 0);
        QCOMPARE(countLinesEndingWith(" W:qtLogOutput Warning: loud warning " + token + " (f:20, g)"), 1);
    }

    void missingContextAndHostileTextAreWritten()
    {
        const QByteArray token = QByteArray::number(QCoreApplication::applicationPid());
        const QMessageLogContext empty(nullptr, 0, nullptr, nullptr);
        qtLogControl::qtLogOutput(QtWarningMsg, empty, QString::fromLatin1("no context " + token));
        QCOMPARE(countLinesEndingWith(" W:qtLogOutput Warning: no context " + token + " (:0, )"), 1);

        const QMessageLogContext context("f%s.cpp", 3, "h%n()", "default");
        qtLogControl::qtLogOutput(QtCriticalMsg, context, QString::fromLatin1("100% %s %n %x " + token));
        QCOMPARE(
            countLinesEndingWith(" W:qtLogOutput Critical: 100% %s %n %x " + token + " (f%s.cpp:3, h%n())"),
            1);

        // A negative line number from a broken context is printed unsigned, not as garbage.
        const QMessageLogContext negative("f", -1, "g", "default");
        qtLogControl::qtLogOutput(QtWarningMsg, negative, QString::fromLatin1("negative line " + token));
        QCOMPARE(
            countLinesEndingWith(" W:qtLogOutput Warning: negative line " + token + " (f:4294967295, g)"), 1);
    }

    void unknownTypeWritesNothing()
    {
        uCTraceHelper::getInstance().ResetTraceLevel(7);
        const int before = TraceLogFile::linesContaining(QByteArray()).size();
        const QMessageLogContext context("f", 1, "g", "default");
        qtLogControl::qtLogOutput(static_cast<QtMsgType>(42), context, QStringLiteral("strange type"));
        qtLogControl::qtLogOutput(static_cast<QtMsgType>(-1), context, QStringLiteral("strange type"));
        QCOMPARE(TraceLogFile::linesContaining(QByteArray()).size(), before);
    }

    void fatalIsTracedAndAborts()
    {
        writeSwitch("1");
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--raise-fatal")});
        QVERIFY(child.waitForStarted(30000));
        const QByteArray pid = QByteArray::number(child.processId());
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        // The child wrote this line, under its own process id.
        const QByteArray expected =
            " " + pid + ":" + pid + " E:qtLogOutput fatal text 7 (fatal.cpp:13, void g())";
        int found = 0;
        for (const QByteArray &line : TraceLogFile::lines())
            found += line.trimmed().endsWith(expected) ? 1 : 0;
        QCOMPARE(found, 1);
        // The trailing line end of the fatal format does not leave an empty line behind.
        QVERIFY(!TraceLogFile::readAll().contains("\n\n"));
    }

    void concurrentWarningsAreNeitherLostNorInterleaved()
    {
        qInstallMessageHandler(&qtLogControl::qtLogOutput);
        const int threads = 8;
        const int perThread = 10000;
        const long long run = QCoreApplication::applicationPid();
        const QByteArray marker = "mt-" + QByteArray::number(run) + "-";
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([t, run] {
                for (int i = 0; i < perThread; ++i)
                    QMessageLogger("mt.cpp", 99, "worker").warning("mt-%lld-%d-%d end", run, t, i);
            });
        for (std::thread &worker : workers)
            worker.join();
        qInstallMessageHandler(m_testHandler);

        const QRegularExpression shape(
            QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} "
                           "\\d+:\\d+ W:qtLogOutput Warning: mt-\\d+-(\\d+)-(\\d+) end "
                           "\\(mt\\.cpp:99, worker\\)$"));
        std::vector<int> seen(threads * perThread, 0);
        int malformed = 0;
        for (const QByteArray &line : TraceLogFile::lines()) {
            if (!line.contains(marker))
                continue;
            const QRegularExpressionMatch m = shape.match(QString::fromUtf8(line));
            if (!m.hasMatch()) {
                ++malformed;
                continue;
            }
            const int t = m.captured(1).toInt();
            const int i = m.captured(2).toInt();
            if (t < threads && i < perThread)
                ++seen[size_t(t * perThread + i)];
        }
        QCOMPARE(malformed, 0);
        int missing = 0;
        int doubled = 0;
        for (int n : seen) {
            missing += n == 0;
            doubled += n > 1;
        }
        QCOMPARE(missing, 0);
        QCOMPARE(doubled, 0);
    }
};

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "--raise-fatal") == 0)
        return raiseFatalInChild();
    QCoreApplication app(argc, argv);
    TestQtLogControl test;
    return QTest::qExec(&test, argc, argv);
}

#include "QtLogControlTest.moc"
