#include "TickCounter.h"

#include <QtTest>

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

int32_t lagBehindClock(uint32_t value)
{
    return static_cast<int32_t>(TickCounter::clockNow() - value);
}

void readBurst()
{
    for (uint32_t i = 0; i < TickCounter::kBurstReads * 2; ++i) {
        TickCounter::read();
    }
}

void sleepMs(int ms)
{
    const struct timespec pause = {0, ms * 1000000L};
    nanosleep(&pause, nullptr);
}

thread_local bool t_heldUp = false;

uint64_t heldUpClock()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    if (t_heldUp) {
        sleepMs(int(TickCounter::kPeriodMs) * 3 / 2);
    }
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

// Reads about once a millisecond for the given time; fails on a value that goes back or lags.
bool followClock(int ms, int maxLag, QString *why)
{
    uint32_t previous = TickCounter::read();
    const uint32_t first = previous;
    const uint32_t until = TickCounter::clockNow() + static_cast<uint32_t>(ms);
    while (static_cast<int32_t>(until - TickCounter::clockNow()) > 0) {
        const uint32_t value = TickCounter::read();
        const int32_t lag = lagBehindClock(value);
        if (static_cast<int32_t>(value - previous) < 0 || lag < 0 || lag > maxLag) {
            *why =
                QStringLiteral("value %1 after %2, %3 ms behind the clock").arg(value).arg(previous).arg(lag);
            return false;
        }
        previous = value;
        sleepMs(1);
    }
    if (static_cast<int32_t>(previous - first) < ms - maxLag) {
        *why = QStringLiteral("advanced only %1 ms in %2 ms").arg(previous - first).arg(ms);
        return false;
    }
    return true;
}

std::string threadField(const char *threadName, const char *field)
{
    const QStringList tasks =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &task : tasks) {
        const std::string base = "/proc/self/task/" + task.toStdString();
        std::ifstream comm(base + "/comm");
        std::string name;
        if (!comm || !std::getline(comm, name) || name != threadName) {
            continue;
        }
        std::ifstream status(base + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind(field, 0) == 0) {
                return line.substr(std::string(field).size());
            }
        }
    }
    return {};
}

} // namespace

class TickCounterTest : public QObject
{
    Q_OBJECT

private slots:
    void occasionalReadsAreClockReads()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!TickCounter::advancing(), 2000);
        for (int i = 0; i < 5; ++i) {
            const uint32_t value = TickCounter::read();
            QVERIFY2(lagBehindClock(value) >= 0 && lagBehindClock(value) <= 8,
                     qPrintable(QString::number(lagBehindClock(value))));
            sleepMs(30);
        }
        QVERIFY(!TickCounter::advancing());
    }

    void burstKeepsTheCounterInMemoryAndItFollowsTheClock()
    {
        readBurst();
        QVERIFY(TickCounter::advancing());
        QString why;
        // Longer than the thread's run, so the reads also cross its stop and the restart. A period plus
        // generous room for a loaded machine, far below a counter that stands still.
        QVERIFY2(followClock(int(TickCounter::kPeriodMs * TickCounter::kRunPeriods * 3),
                             TickCounter::kPeriodMs + 60, &why),
                 qPrintable(why));
    }

    void counterStopsWhenNobodyReadsAndRestarts()
    {
        readBurst();
        QVERIFY(TickCounter::advancing());
        QTRY_VERIFY_WITH_TIMEOUT(!TickCounter::advancing(), 2000);
        // Unread for a while: the next value is the clock's, not the one left in memory.
        sleepMs(100);
        QVERIFY(lagBehindClock(TickCounter::read()) <= 8);

        readBurst();
        QVERIFY(TickCounter::advancing());
        QString why;
        QVERIFY2(followClock(150, TickCounter::kPeriodMs + 60, &why), qPrintable(why));
    }

    void timerThreadTakesNoSignals()
    {
        readBurst();
        const std::string blocked = threadField("tick-counter", "SigBlk:");
        QVERIFY2(!blocked.empty(), "no tick-counter thread");
        const unsigned long long mask = std::stoull(blocked, nullptr, 16);
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGUSR1, SIGALRM}) {
            QVERIFY2(mask & (1ull << (signal - 1)), qPrintable(QString::number(signal)));
        }
    }

    void forkedChildDoesNotInheritAStandingCounter()
    {
        readBurst();
        QVERIFY(TickCounter::advancing());
        const pid_t child = fork();
        if (child == 0) {
            // The parent's timer thread does not exist here.
            readBurst();
            const uint32_t first = TickCounter::read();
            for (int i = 0; i < 150; ++i) {
                TickCounter::read();
                sleepMs(1);
            }
            const uint32_t advanced = TickCounter::read() - first;
            _exit(advanced >= 100 && advanced < 5000 ? 0 : 1);
        }
        QVERIFY(child > 0);
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    void spreadOutReadsStartNoThread()
    {
        // An idle program reads the counter a few times a second; that must never cost a thread that
        // wakes every period.
        QTRY_VERIFY_WITH_TIMEOUT(!TickCounter::advancing(), 2000);
        for (uint32_t i = 0; i < TickCounter::kBurstReads * 3; ++i) {
            TickCounter::read();
            QVERIFY2(!TickCounter::advancing(), qPrintable(QString::number(i)));
            sleepMs(2);
        }
    }

    // A dispatch is timed by two reads on one thread; a value older than one that thread already saw
    // would make it look as if it had taken most of 49 days.
    void neverGoesBackOnAnyThread()
    {
        // Some readers are held up right after their own clock read, as a preempted thread would be,
        // for a period and a half: by the time they store it, newer values are in memory.
        const TickCounter::ClockSource previousSource = TickCounter::setClockSourceForTesting(&heldUpClock);
        const int fastReaders = 6;
        const int heldUpReaders = 2;
        std::atomic<bool> stop{false};
        std::atomic<int> backwards{0};
        std::atomic<uint32_t> worstStep{0};
        std::vector<std::thread> threads;
        for (int r = 0; r < fastReaders + heldUpReaders; ++r) {
            threads.emplace_back([&, r] {
                t_heldUp = r >= fastReaders;
                uint32_t previous = TickCounter::read();
                while (!stop.load(std::memory_order_relaxed)) {
                    const uint32_t value = TickCounter::read();
                    if (static_cast<int32_t>(value - previous) < 0) {
                        backwards.fetch_add(1);
                        const uint32_t step = previous - value;
                        uint32_t worst = worstStep.load();
                        while (step > worst && !worstStep.compare_exchange_weak(worst, step)) {
                        }
                    }
                    previous = value;
                    // Fast readers pause between reads, so a burst of theirs takes a while and leaves
                    // the CPU to the held-up readers, which spin and so are caught in it.
                    if (!t_heldUp) {
                        const struct timespec pause = {0, 50 * 1000L};
                        nanosleep(&pause, nullptr);
                    }
                }
            });
        }
        // Long enough for the timer thread to stop and restart many times.
        const uint32_t until = TickCounter::clockNow() + 3000;
        int runningSeen = 0;
        while (static_cast<int32_t>(until - TickCounter::clockNow()) > 0 && backwards.load() == 0) {
            runningSeen += TickCounter::advancing() ? 1 : 0;
            sleepMs(20);
        }
        stop = true;
        for (std::thread &thread : threads) {
            thread.join();
        }
        TickCounter::setClockSourceForTesting(previousSource);
        QVERIFY2(backwards.load() == 0, qPrintable(QStringLiteral("%1 reads went back, the worst by %2 ms")
                                                       .arg(backwards.load())
                                                       .arg(worstStep.load())));
        // Otherwise the readers never met the thread and the check above proved nothing.
        QVERIFY(runningSeen > 0);
    }
};

QTEST_GUILESS_MAIN(TickCounterTest)
#include "TickCounterTest.moc"
