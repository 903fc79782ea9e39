#include "CFeedWatchdogClock.h"

#include <QtTest>

#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

class TestFeedWatchdogClock : public QObject
{
    Q_OBJECT

private slots:
    void firstTickNeverCountsAsGap_data()
    {
        QTest::addColumn<qint64>("now");
        QTest::newRow("ordinary time") << qint64(1765000000);
        QTest::newRow("zero") << qint64(0);
        QTest::newRow("far future") << qint64(std::numeric_limits<int64_t>::max());
        QTest::newRow("before 1970") << qint64(-86400);
    }
    void firstTickNeverCountsAsGap()
    {
        QFETCH(qint64, now);
        CFeedWatchdogClock clock;
        QVERIFY(!clock.feed(now));
        QVERIFY(!clock.feed(now));
    }

    void gapRule_data()
    {
        QTest::addColumn<qint64>("gap");
        QTest::addColumn<bool>("stalled");
        QTest::newRow("same second") << qint64(0) << false;
        QTest::newRow("one second") << qint64(1) << false;
        QTest::newRow("five seconds") << qint64(5) << false;
        QTest::newRow("six seconds") << qint64(6) << true;
        QTest::newRow("an hour (suspend)") << qint64(3600) << true;
        QTest::newRow("clock set back a second") << qint64(-1) << false;
        QTest::newRow("clock set back a day") << qint64(-86400) << false;
    }
    void gapRule()
    {
        QFETCH(qint64, gap);
        QFETCH(bool, stalled);
        CFeedWatchdogClock clock;
        const int64_t start = 1765000000;
        QVERIFY(!clock.feed(start));
        QCOMPARE(clock.feed(start + gap), stalled);
    }

    void gapIsMeasuredFromTheLatestTick()
    {
        CFeedWatchdogClock clock;
        int64_t now = 1765000000;
        QVERIFY(!clock.feed(now));
        // A steady beat of 5 s never adds up to a stall.
        for (int i = 0; i < 10; ++i)
            QVERIFY(!clock.feed(now += 5));
        QVERIFY(clock.feed(now += 6));
        // The stall is reported once, on the first tick after it.
        QVERIFY(!clock.feed(now += 1));
        // After the clock went back, the earlier time is the new reference.
        QVERIFY(!clock.feed(now -= 1000));
        QVERIFY(!clock.feed(now += 5));
        QVERIFY(clock.feed(now += 7));
    }

    void extremeDifferencesDoNotOverflow()
    {
        CFeedWatchdogClock forward;
        QVERIFY(!forward.feed(std::numeric_limits<int64_t>::min()));
        QVERIFY(forward.feed(std::numeric_limits<int64_t>::max()));

        CFeedWatchdogClock backward;
        QVERIFY(!backward.feed(std::numeric_limits<int64_t>::max()));
        QVERIFY(!backward.feed(std::numeric_limits<int64_t>::min()));
    }

    void concurrentFirstTicksInitialiseOnce()
    {
        // Many threads hitting a fresh clock at the same instant: whichever runs first sets the
        // reference, and none of them sees a gap.
        for (int round = 0; round < 50; ++round) {
            CFeedWatchdogClock clock;
            std::atomic<int> gaps(0);
            std::vector<std::thread> threads;
            for (int t = 0; t < 8; ++t)
                threads.emplace_back([&clock, &gaps] {
                    for (int i = 0; i < 100; ++i)
                        if (clock.feed(1765000000 + (i % 3)))
                            ++gaps;
                });
            for (std::thread &thread : threads)
                thread.join();
            QCOMPARE(gaps.load(), 0);
        }
    }

    void processClockKeepsItsTicksAcrossCallsAndThreads()
    {
        // A clock made afresh per call or per thread would take every tick for a first one and never
        // see the stall.
        const int64_t start = 1765000000;
        QVERIFY(!CFeedWatchdogClock::processClock().feed(start));
        bool stalled = false;
        std::thread other(
            [&stalled, start] { stalled = CFeedWatchdogClock::processClock().feed(start + 6); });
        other.join();
        QVERIFY(stalled);
        QVERIFY(!CFeedWatchdogClock::processClock().feed(start + 7));
    }
};

QTEST_GUILESS_MAIN(TestFeedWatchdogClock)
#include "CFeedWatchdogClockTest.moc"
