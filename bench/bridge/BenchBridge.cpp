// Compares the bridge with Qt's own cross-thread delivery on the GUI thread:
//  - throughput: a worker posts 1,000,000 messages to a handler on the GUI thread, against
//    1,000,000 QCoreApplication::postEvent calls to a QObject there;
//  - latency: 100,000 round trips worker -> GUI -> worker, against queued-connection ping-pong.
// The wake-up mode is fixed per process, so the parent re-runs itself once per mode.

#include "QEBridge.h"
#include "chMessageHandler.h"
#include "chThreadLocal.h"
#include "chThreadQueue.h"
#include "dskthread.h"
#include "msgObject.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int envInt(const char *name, int fallback)
{
    const char *value = std::getenv(name);
    return value && *value ? std::atoi(value) : fallback;
}

double median(std::vector<double> values)
{
    if (values.empty()) {
        return 0.0;
    }
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// ---- throughput ----

class CountingHandler : public chMessageHandler
{
public:
    int target = 0;
    int count = 0;
    int onMessage(msgObject &)
    {
        if (++count == target) {
            QCoreApplication::quit();
        }
        return 1;
    }
};

class CountingObject : public QObject
{
public:
    int target = 0;
    int count = 0;
    void customEvent(QEvent *) override
    {
        if (++count == target) {
            QCoreApplication::quit();
        }
    }
};

double ourThroughput(int n)
{
    CountingHandler handler;
    handler.target = n;
    std::thread worker;
    QTimer::singleShot(0, [&] {
        worker = std::thread([&] {
            for (int i = 0; i < n; ++i) {
                while (!msgPostToHandler(&handler, chMsgOp(&CountingHandler::onMessage), msgObject(1))) {
                    std::this_thread::yield();
                }
            }
        });
    });
    const auto start = Clock::now();
    QCoreApplication::exec();
    const auto end = Clock::now();
    worker.join();
    return std::chrono::duration<double>(end - start).count();
}

double qtThroughput(int n)
{
    CountingObject receiver;
    receiver.target = n;
    std::thread worker;
    QTimer::singleShot(0, [&] {
        worker = std::thread([&] {
            for (int i = 0; i < n; ++i) {
                QCoreApplication::postEvent(&receiver,
                                            new QEvent(static_cast<QEvent::Type>(QEvent::User + 1)));
            }
        });
    });
    const auto start = Clock::now();
    QCoreApplication::exec();
    const auto end = Clock::now();
    worker.join();
    return std::chrono::duration<double>(end - start).count();
}

// ---- round trips ----

class PingThread;

// Lives on the GUI thread; answers every ping.
class PongHandler : public chMessageHandler
{
public:
    chMessageHandler *peer = nullptr;
    chMsgOperation peerOperation = nullptr;
    int onPing(msgObject &msg)
    {
        msgPostToHandler(peer, peerOperation, msg);
        return 1;
    }
};

class PingThread : public chThreadLocal
{
public:
    PingThread() : chThreadLocal("bench_ping") {}
    ~PingThread() override { Stop(); }

    PongHandler *pong = nullptr;
    int rounds = 0;
    std::vector<double> samples;
    Clock::time_point sent;

    void sendPing()
    {
        sent = Clock::now();
        msgPostToHandler(pong, chMsgOp(&PongHandler::onPing), msgObject(1));
    }
    int onPong(msgObject &)
    {
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
        if (static_cast<int>(samples.size()) == rounds) {
            QMetaObject::invokeMethod(QCoreApplication::instance(), "quit", Qt::QueuedConnection);
        } else {
            sendPing();
        }
        return 1;
    }
    int DefaultDispatchMessage(msgObject &) override
    {
        sendPing();
        return 1;
    }
};

double ourRoundTrip(int rounds)
{
    PongHandler pong;
    PingThread ping;
    ping.pong = &pong;
    ping.rounds = rounds;
    ping.samples.reserve(rounds);
    pong.peer = &ping;
    pong.peerOperation = chMsgOp(&PingThread::onPong);
    ping.Start();
    QTimer::singleShot(0, [&] { msgPostToThread(&ping, msgObject(0)); });
    QCoreApplication::exec();
    ping.Stop();
    if (std::getenv("TARN_BENCH_VERBOSE")) {
        std::fprintf(stderr, "worker slept %llu times in %d round trips; bridge events %llu, runs %llu\n",
                     static_cast<unsigned long long>(ping.queue()->wakeUps()), rounds,
                     static_cast<unsigned long long>(QEBridge::instance().dispatchEventsPosted()),
                     static_cast<unsigned long long>(QEBridge::instance().dispatchRuns()));
    }
    return median(ping.samples);
}

class QtPinger : public QObject
{
    Q_OBJECT
public:
    int rounds = 0;
    std::vector<double> samples;
    Clock::time_point sent;
signals:
    void ping();
public slots:
    void start()
    {
        sent = Clock::now();
        emit ping();
    }
    void onPong()
    {
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
        if (static_cast<int>(samples.size()) == rounds) {
            QMetaObject::invokeMethod(QCoreApplication::instance(), "quit", Qt::QueuedConnection);
        } else {
            start();
        }
    }
};

class QtPonger : public QObject
{
    Q_OBJECT
signals:
    void pong();
public slots:
    void onPing() { emit pong(); }
};

double qtRoundTrip(int rounds)
{
    QThread thread;
    auto *pinger = new QtPinger;
    pinger->rounds = rounds;
    pinger->samples.reserve(rounds);
    pinger->moveToThread(&thread);
    QtPonger ponger;
    QObject::connect(pinger, &QtPinger::ping, &ponger, &QtPonger::onPing, Qt::QueuedConnection);
    QObject::connect(&ponger, &QtPonger::pong, pinger, &QtPinger::onPong, Qt::QueuedConnection);
    thread.start();
    QTimer::singleShot(0, [&] { QMetaObject::invokeMethod(pinger, "start", Qt::QueuedConnection); });
    QCoreApplication::exec();
    thread.quit();
    thread.wait();
    const double result = median(pinger->samples);
    delete pinger;
    return result;
}

int runMode()
{
    int argc = 1;
    char name[] = "bench_bridge";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QEBridge::instance().initBridge();

    const char *mode = chIsSocketEvent() ? "socket" : "signal";
    const int messages = envInt("TARN_BENCH_MESSAGES", 1000000);
    const int rounds = envInt("TARN_BENCH_ROUNDS", 100000);
    const int repeats = 3;

    // Side by side, alternating, so drift in machine load hits both alike.
    std::vector<double> ours, qt;
    for (int i = 0; i < repeats; ++i) {
        ours.push_back(ourThroughput(messages));
        qt.push_back(qtThroughput(messages));
    }
    std::printf("bridge_throughput_%s: ratio=%.3f goal<=1.0 (ours %.0f ms, qt %.0f ms, %d messages)\n", mode,
                median(ours) / median(qt), median(ours) * 1000, median(qt) * 1000, messages);
    std::fflush(stdout);

    std::vector<double> ourRtt, qtRtt;
    for (int i = 0; i < repeats; ++i) {
        ourRtt.push_back(ourRoundTrip(rounds / repeats));
        qtRtt.push_back(qtRoundTrip(rounds / repeats));
    }
    std::printf(
        "bridge_roundtrip_median_%s: ratio=%.3f goal<=1.2 (ours %.1f us, qt %.1f us, %d round trips)\n", mode,
        median(ourRtt) / median(qtRtt), median(ourRtt), median(qtRtt), rounds);
    std::fflush(stdout);

    QEBridge::instance().releaseBridge();
    return 0;
}

} // namespace

int main(int, char **)
{
    if (std::getenv("TARN_BENCH_CHILD")) {
        return runMode();
    }
    int status = 0;
    for (const char *mode : {"socket", "signal"}) {
        const pid_t child = fork();
        if (child == 0) {
            setenv("TARN_WAKEUP", mode, 1);
            setenv("TARN_BENCH_CHILD", "1", 1);
            char self[] = "/proc/self/exe";
            char *args[] = {self, nullptr};
            execv(self, args);
            _exit(127);
        }
        int result = 0;
        if (child < 0 || waitpid(child, &result, 0) != child || !WIFEXITED(result) ||
            WEXITSTATUS(result) != 0) {
            std::fprintf(stderr, "bench_bridge: the %s run failed\n", mode);
            status = 1;
        }
    }
    return status;
}

#include "BenchBridge.moc"
