#include "SessionEndWatcher.h"

#include <QCoreApplication>
#include <QTimer>
#include <QtTest>

#include <signal.h>

#include <cstring>

namespace {

// Runs the event loop with a safety net; the loop's result, or 99 when nothing ended it.
int runLoop(int ms = 20000)
{
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    safety.start(ms);
    return QCoreApplication::exec();
}

sighandler_t currentHandler(int signal)
{
    struct sigaction current;
    sigaction(signal, nullptr, &current);
    return current.sa_handler;
}

} // namespace

class SessionEndWatcherTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // A watcher that saw the program end leaves the signals ignored until the process is gone; each
        // case starts as a fresh process would.
        for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
            ::signal(signal, SIG_DFL);
        }
    }

    void signalBeforeTheLoopRunsEndsItOnceItRuns()
    {
        SessionEndWatcher watcher;
        QVERIFY(watcher.install());
        // Arrives during bring-up: events handled then must not lose the quit.
        QCOMPARE(raise(SIGTERM), 0);
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
        QCOMPARE(runLoop(), 0);
    }

    void eachSignalEndsTheLoopWithZero_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void eachSignalEndsTheLoopWithZero()
    {
        QFETCH(int, signal);
        SessionEndWatcher watcher;
        QVERIFY(watcher.install());
        QTimer::singleShot(50, [signal] { raise(signal); });
        QCOMPARE(runLoop(), 0);
    }

    void signalAfterTheLoopEndedStartsNoSecondEnd()
    {
        SessionEndWatcher watcher;
        QVERIFY(watcher.install());
        QTimer::singleShot(50, [] { QCoreApplication::quit(); });
        QCOMPARE(runLoop(), 0);
        // Shutdown is running (a nested loop of it, here): a signal now must not end that loop.
        QCOMPARE(raise(SIGTERM), 0);
        QEventLoop nested;
        QTimer::singleShot(1500, &nested, [&nested] { nested.exit(7); });
        QCOMPARE(nested.exec(), 7);
    }

    void watcherThatSawTheEndLeavesTheSignalsIgnored()
    {
        {
            SessionEndWatcher watcher;
            QVERIFY(watcher.install());
            QTimer::singleShot(50, [] { raise(SIGINT); });
            QCOMPARE(runLoop(), 0);
        }
        // What is left of the exit is not cut short by a late signal.
        QVERIFY(currentHandler(SIGTERM) == SIG_IGN);
        QCOMPARE(raise(SIGTERM), 0);
    }

    void ignoredAtStartStaysIgnored()
    {
        // As `nohup` starts the program: a closed terminal does not end it.
        ::signal(SIGHUP, SIG_IGN);
        SessionEndWatcher watcher;
        QVERIFY(watcher.install());
        QVERIFY(currentHandler(SIGHUP) == SIG_IGN);
        QVERIFY(currentHandler(SIGTERM) != SIG_DFL);
        QCOMPARE(raise(SIGHUP), 0);
        QTimer::singleShot(1000, [] { QCoreApplication::exit(5); });
        QCOMPARE(runLoop(), 5);
    }

    void watcherGoneBeforeAnyEndGivesTheHandlersBack()
    {
        {
            SessionEndWatcher watcher;
            QVERIFY(watcher.install());
            QVERIFY(currentHandler(SIGINT) != SIG_DFL);
        }
        QVERIFY(currentHandler(SIGTERM) == SIG_DFL);
        QVERIFY(currentHandler(SIGHUP) == SIG_DFL);
        QVERIFY(currentHandler(SIGINT) == SIG_DFL);
    }

    void brokenPipeIsAnErrorNotAnEnd()
    {
        SessionEndWatcher::ignoreBrokenPipe();
        int fds[2];
        QCOMPARE(pipe(fds), 0);
        close(fds[0]);
        errno = 0;
        QCOMPARE(write(fds[1], "x", 1), ssize_t(-1));
        QCOMPARE(errno, EPIPE);
        close(fds[1]);
    }
};

QTEST_GUILESS_MAIN(SessionEndWatcherTest)
#include "SessionEndWatcherTest.moc"
