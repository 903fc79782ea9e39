#include "TickCounter.h"

#include <QtTest>

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>

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
};

QTEST_GUILESS_MAIN(TickCounterTest)
#include "TickCounterTest.moc"
