#include "CExitAppThread.h"
#include "chThreadQueue.h"
#include "dskthread.h"
#include "msgObject.h"

#include <QtTest>

// The exit timer is 30 s; these tests move the runtime's clock instead of waiting.
class TestExitThread : public QObject
{
    Q_OBJECT

private:
    // Lets the thread look at its timers again after the clock moved.
    static void poke(CExitAppThread &thread) { QVERIFY(msgPostToThread(&thread, msgObject(0))); }

    // Pokes the thread and waits until it has looked at its timers. A turn dispatches its messages
    // before it fires the timers that are due, so the first turn is over once a second one has
    // dispatched its message.
    static bool settle(CExitAppThread &thread)
    {
        for (int turn = 0; turn < 2; ++turn) {
            const uint64_t before = thread.queue()->messagesDispatched();
            if (!msgPostToThread(&thread, msgObject(0)) ||
                !QTest::qWaitFor([&] { return thread.queue()->messagesDispatched() > before; }, 5000)) {
                return false;
            }
        }
        return true;
    }

    static bool waitArmed(CExitAppThread &thread)
    {
        return QTest::qWaitFor([&] { return thread.queue()->nextTimerTicks() > 0; }, 5000);
    }

private slots:
    void nameIsEmpty()
    {
        CExitAppThread thread;
        QVERIFY(thread.GetName().empty());
    }

    void neverStartedStillStopsAndDestroys()
    {
        CExitAppThread thread;
        QVERIFY(!thread.Stop());
        QVERIFY(!thread.IsRunning());
    }

    void armsThirtySecondsAfterLaunch()
    {
        CExitAppThread thread;
        QVERIFY(thread.Start());
        QVERIFY(waitArmed(thread));
        const int ticks = thread.queue()->nextTimerTicks();
        QVERIFY2(ticks > 29000 && ticks <= 30000, qPrintable(QString::number(ticks)));
        QVERIFY(thread.Stop());
    }

    void stoppedBeforeExpiryNeverFires()
    {
        CExitAppThread thread;
        QVERIFY(thread.Start());
        QVERIFY(waitArmed(thread));
        chRuntimeAdvanceClock(29000);
        QVERIFY(settle(thread));
        QCOMPARE(thread.queue()->timersFired(), uint64_t(0));
        QVERIFY(thread.Stop());
        QVERIFY(!thread.IsRunning());
        QCOMPARE(thread.queue()->timersFired(), uint64_t(0));
    }

    void slowShutdownFiresExactlyOnce()
    {
        CExitAppThread thread;
        QVERIFY(thread.Start());
        QVERIFY(waitArmed(thread));
        chRuntimeAdvanceClock(30000);
        poke(thread);
        QTRY_COMPARE_WITH_TIMEOUT(thread.queue()->timersFired(), uint64_t(1), 5000);
        chRuntimeAdvanceClock(60000);
        QVERIFY(settle(thread));
        QCOMPARE(thread.queue()->timersFired(), uint64_t(1));
        // The thread keeps running undisturbed and still stops on request.
        QVERIFY(thread.IsRunning());
        QVERIFY(thread.queue()->nextTimerTicks() < 0);
        QVERIFY(thread.Stop());
    }

    void destroyedWithoutStopEndsItsLoop()
    {
        auto *thread = new CExitAppThread;
        QVERIFY(thread->Start());
        QVERIFY(waitArmed(*thread));
        delete thread; // must not leave a loop running on a dead object
    }
};

QTEST_GUILESS_MAIN(TestExitThread)
#include "CExitAppThreadTest.moc"
