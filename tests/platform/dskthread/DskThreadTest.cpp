#include "FunctorImpBase.h"
#include "chMessageHandler.h"
#include "chSignal.h"
#include "chThreadLocal.h"
#include "chThreadQueue.h"
#include "chThreadTimer.h"
#include "dskthread.h"
#include "msgObject.h"
#include "xSigSubscriber.h"

#include <QtTest>

// chSignal has a member named like Qt's emit keyword.
#undef emit

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Records every call with the thread it ran on.
class Recorder : public chMessageHandler
{
public:
    int onMessage(msgObject &msg)
    {
        std::lock_guard<std::mutex> guard(lock);
        messages.push_back(msg.message);
        threads.push_back(std::this_thread::get_id());
        calls.fetch_add(1);
        return 1;
    }
    int onThreadMessage(msgObject &msg) override
    {
        defaultCalls.fetch_add(1);
        return onMessage(msg);
    }
    std::vector<uint32_t> snapshot()
    {
        std::lock_guard<std::mutex> guard(lock);
        return messages;
    }
    std::vector<std::thread::id> threadSnapshot()
    {
        std::lock_guard<std::mutex> guard(lock);
        return threads;
    }

    std::atomic<int> calls{0};
    std::atomic<int> defaultCalls{0};
    std::mutex lock;
    std::vector<uint32_t> messages;
    std::vector<std::thread::id> threads;
};

// Counts calls in a place that outlives the handler.
class Counted : public chMessageHandler
{
public:
    explicit Counted(std::atomic<int> &counter) : counter(counter) {}
    int onMessage(msgObject &)
    {
        counter.fetch_add(1);
        return 1;
    }
    std::atomic<int> &counter;
};

// Pumps an attached thread object until done() holds or the time runs out.
bool pumpUntil(chThreadLocal &thread, const std::function<bool()> &done, int timeoutMs = 5000)
{
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() >= end) {
            return false;
        }
        thread.DispatchQueuedMessage(5);
    }
    return true;
}

class LifeThread : public chThreadLocal
{
public:
    LifeThread() : chThreadLocal("life") {}
    ~LifeThread() override { Stop(); }

    int AfterThreadLaunched() override
    {
        record("AfterThreadLaunched");
        return 1;
    }
    int Run() override
    {
        record("Run");
        return chThreadLocal::Run();
    }
    int BeforeThreadShutdown() override
    {
        record("BeforeThreadShutdown");
        return 1;
    }
    int onExit() override
    {
        record("onExit");
        return 0;
    }
    int DefaultDispatchMessage(msgObject &msg) override
    {
        if (onDefault) {
            onDefault(msg);
        }
        record("Default");
        return 1;
    }
    std::vector<std::string> snapshot()
    {
        std::lock_guard<std::mutex> guard(lock);
        return calls;
    }

    std::function<void(msgObject &)> onDefault;
    std::thread::id loopThread;

private:
    void record(const char *what)
    {
        std::lock_guard<std::mutex> guard(lock);
        calls.push_back(what);
        loopThread = std::this_thread::get_id();
    }
    std::mutex lock;
    std::vector<std::string> calls;
};

// A started thread object that runs a callable on its own thread and waits for it.
class Worker : public chThreadLocal
{
public:
    Worker() : chThreadLocal("worker") {}
    ~Worker() override { Stop(); }
    int DefaultDispatchMessage(msgObject &msg) override
    {
        auto *job = reinterpret_cast<std::function<void()> *>(msg.lParam);
        (*job)();
        return 1;
    }
    void runSync(std::function<void()> job)
    {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        std::function<void()> wrapped = [&] {
            job();
            std::lock_guard<std::mutex> guard(m);
            done = true;
            cv.notify_all();
        };
        QVERIFY(msgPostToThread(this, msgObject(1, 0, reinterpret_cast<int64_t>(&wrapped))));
        std::unique_lock<std::mutex> guard(m);
        QVERIFY(cv.wait_for(guard, std::chrono::seconds(5), [&] { return done; }));
    }
    std::thread::id threadId()
    {
        std::thread::id id;
        runSync([&] { id = std::this_thread::get_id(); });
        return id;
    }
};

class TestFunctor : public FunctorImpBase
{
public:
    TestFunctor(std::atomic<int> *counter, int tag) : counter(counter), tag(tag) {}
    void invoke(uint32_t a0, uint32_t, uint32_t, uint32_t, uint32_t a4) override
    {
        if (counter) {
            counter->fetch_add(1);
        }
        lastA0 = a0;
        lastA4 = a4;
    }
    bool equals(const FunctorImpBase &other) const override
    {
        auto *o = dynamic_cast<const TestFunctor *>(&other);
        return o && o->counter == counter && o->tag == tag;
    }
    FunctorImpBase *clone() const override { return new TestFunctor(counter, tag); }
    void *target() const override { return counter; }
    bool isEmpty() const override { return counter == nullptr; }

    std::atomic<int> *counter;
    int tag;
    static inline uint32_t lastA0 = 0;
    static inline uint32_t lastA4 = 0;
};

// Opens the members that subclasses (such as the bridge) read.
class ProbeThread : public chThreadLocal
{
public:
    ProbeThread() : chThreadLocal("test_ui") {}
    using chThreadLocal::nextWaitTicks;
    using chThreadLocal::wakeSource;
};

} // namespace

class TestDskThread : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        ui.reset(new ProbeThread);
        QVERIFY(ui->AttachCurrentThread());
        QCOMPARE(chThreadLocal::current(), ui.get());
    }
    void cleanup()
    {
        ui->DetachThread();
        QVERIFY(chThreadLocal::current() == nullptr);
        ui.reset();
    }

    void wakeModeFollowsEnvironment()
    {
        const char *mode = std::getenv("TARN_WAKEUP");
        const bool signalMode = mode && std::strcmp(mode, "signal") == 0;
        QCOMPARE(chIsSocketEvent(), !signalMode);
    }

    void postReachesHandlerInOrder()
    {
        Recorder r;
        for (uint32_t i = 1; i <= 5; ++i) {
            QVERIFY(msgPostToHandler(&r, chMsgOp(&Recorder::onMessage), msgObject(i)));
        }
        QCOMPARE(ui->HasMessageQueued(), 1);
        QCOMPARE(ui->DispatchQueuedMessage(0), 0);
        QCOMPARE(r.snapshot(), (std::vector<uint32_t>{1, 2, 3, 4, 5}));
        QCOMPARE(ui->HasMessageQueued(), 0);
        QVERIFY(ui->nextWaitTicks < 0);
        // No operation: the handler's own onThreadMessage.
        QVERIFY(msgPostToHandler(&r, nullptr, msgObject(9)));
        ui->DispatchQueuedMessage(0);
        QCOMPARE(r.defaultCalls.load(), 1);
    }

    void postToThreadReachesDefaultDispatch()
    {
        LifeThread t;
        QVERIFY(t.Start());
        std::atomic<int> seen{0};
        t.onDefault = [&](msgObject &msg) { seen.store(static_cast<int>(msg.message)); };
        QVERIFY(msgPostToThread(&t, msgObject(42)));
        QVERIFY(QTest::qWaitFor([&] { return seen.load() == 42; }, 5000));
    }

    void destroyedHandlerIsNeverCalled()
    {
        std::atomic<int> counter{0};
        auto *h = new Counted(counter);
        // Fill the dispatcher's lookup cache first, so the destruction must invalidate it.
        QVERIFY(msgPostToHandler(h, chMsgOp(&Counted::onMessage), msgObject(1)));
        ui->DispatchQueuedMessage(0);
        QCOMPARE(counter.load(), 1);
        for (int i = 0; i < 100; ++i) {
            QVERIFY(msgPostToHandler(h, chMsgOp(&Counted::onMessage), msgObject(2)));
        }
        QVERIFY(msgJoinMessageGroup("DeadGroup", h, chMsgOp(&Counted::onMessage)));
        delete h;
        ui->DispatchQueuedMessage(0);
        QCOMPARE(counter.load(), 1);
        QCOMPARE(msgBroadcastToGroup("DeadGroup", 703), 0);
    }

    void handlerDestroyedByEarlierMessageInSameBatch()
    {
        std::atomic<int> counter{0};
        auto *victim = new Counted(counter);
        Recorder killer;
        struct Killer : chMessageHandler
        {
            Counted **victim;
            int kill(msgObject &)
            {
                delete *victim;
                *victim = nullptr;
                return 1;
            }
        } k;
        k.victim = &victim;
        QVERIFY(msgPostToHandler(victim, chMsgOp(&Counted::onMessage), msgObject(1)));
        QVERIFY(msgPostToHandler(&k, chMsgOp(&Killer::kill), msgObject(2)));
        QVERIFY(msgPostToHandler(victim, chMsgOp(&Counted::onMessage), msgObject(3)));
        ui->DispatchQueuedMessage(0);
        QCOMPARE(counter.load(), 1);
        QVERIFY(victim == nullptr);
    }

    void handlersRunOnlyOnTheirOwnThread()
    {
        Worker w;
        QVERIFY(w.Start());
        const std::thread::id workerId = w.threadId();
        std::unique_ptr<Recorder> r;
        w.runSync([&] { r.reset(new Recorder); });
        std::vector<std::thread> posters;
        for (int p = 0; p < 3; ++p) {
            posters.emplace_back([&] {
                for (int i = 0; i < 200; ++i) {
                    msgPostToHandler(r.get(), chMsgOp(&Recorder::onMessage), msgObject(7));
                }
            });
        }
        for (auto &t : posters) {
            t.join();
        }
        // Also from the test thread, which has a thread object of its own.
        QVERIFY(msgPostToHandler(r.get(), chMsgOp(&Recorder::onMessage), msgObject(8)));
        QVERIFY(QTest::qWaitFor([&] { return r->calls.load() == 601; }, 5000));
        for (const auto &id : r->threadSnapshot()) {
            QVERIFY(id == workerId);
        }
        w.runSync([&] { r.reset(); });
    }

    void unownedHandlerBindsToFirstThreadItMeets()
    {
        ui->DetachThread();
        auto *r = new Recorder;
        ui->AttachCurrentThread();
        // Created with no thread object around; the test thread's object adopts it on first post.
        QVERIFY(msgPostToHandler(r, chMsgOp(&Recorder::onMessage), msgObject(5)));
        ui->DispatchQueuedMessage(0);
        QCOMPARE(r->calls.load(), 1);

        ui->DetachThread();
        Recorder orphan;
        bool accepted = true;
        std::thread([&] {
            accepted = msgPostToHandler(&orphan, chMsgOp(&Recorder::onMessage), msgObject(1));
        }).join();
        QVERIFY(!accepted);
        ui->AttachCurrentThread();
        delete r;
    }

    void handlerOfADestroyedThreadIsNotAdopted()
    {
        auto worker = std::make_unique<Worker>();
        QVERIFY(worker->Start());
        std::unique_ptr<Recorder> r;
        worker->runSync([&] { r.reset(new Recorder); });
        QVERIFY(msgJoinMessageGroup("Orphans", r.get(), chMsgOp(&Recorder::onMessage)));
        worker.reset();
        // The test thread has a thread object, but the handler belongs to the one that is gone.
        QVERIFY(!msgPostToHandler(r.get(), chMsgOp(&Recorder::onMessage), msgObject(1)));
        QCOMPARE(msgBroadcastToGroup("Orphans", 703), 0);
        chThreadTimer t;
        QVERIFY(!t.SingleShot(0, r.get(), chMsgOp(&Recorder::onMessage)));
        ui->DispatchQueuedMessage(20);
        QCOMPARE(r->calls.load(), 0);
    }

    void groupBroadcastAcrossThreads()
    {
        Worker a, b;
        QVERIFY(a.Start());
        QVERIFY(b.Start());
        std::unique_ptr<Recorder> ra, rb;
        Recorder local;
        a.runSync([&] {
            ra.reset(new Recorder);
            QVERIFY(msgJoinMessageGroup("MessageGroupLang", ra.get(), chMsgOp(&Recorder::onMessage)));
        });
        b.runSync([&] {
            rb.reset(new Recorder);
            QVERIFY(msgJoinMessageGroup("MessageGroupLang", rb.get(), chMsgOp(&Recorder::onMessage)));
        });
        QVERIFY(msgJoinMessageGroup("MessageGroupLang", &local, chMsgOp(&Recorder::onMessage)));
        // Joining twice does not deliver twice.
        QVERIFY(msgJoinMessageGroup("MessageGroupLang", &local, chMsgOp(&Recorder::onMessage)));

        int reached = -1;
        std::thread([&] { reached = msgBroadcastToGroup("MessageGroupLang", 703); }).join();
        QCOMPARE(reached, 3);
        QVERIFY(pumpUntil(*ui, [&] { return local.calls.load() == 1; }));
        QVERIFY(QTest::qWaitFor([&] { return ra->calls.load() == 1 && rb->calls.load() == 1; }, 5000));
        QCOMPARE(ra->snapshot(), std::vector<uint32_t>{703});
        QVERIFY(ra->threadSnapshot()[0] == a.threadId());
        QVERIFY(rb->threadSnapshot()[0] == b.threadId());
        QVERIFY(local.threadSnapshot()[0] == std::this_thread::get_id());

        QVERIFY(msgLeaveMessageGroup("MessageGroupLang", &local));
        QVERIFY(!msgLeaveMessageGroup("MessageGroupLang", &local));
        QCOMPARE(msgBroadcastToGroup("MessageGroupLang", 703), 2);
        QCOMPARE(msgBroadcastToGroup("NoSuchGroup", 703), 0);
        a.runSync([&] { ra.reset(); });
        b.runSync([&] { rb.reset(); });
        QCOMPARE(msgBroadcastToGroup("MessageGroupLang", 703), 0);
    }

    void timersFireInDeadlineOrder()
    {
        Recorder r;
        chThreadTimer t30, t10, t20;
        QVERIFY(t30.SingleShot(60, &r, chMsgOp(&Recorder::onMessage)));
        QVERIFY(t10.SingleShot(20, &r, chMsgOp(&Recorder::onMessage)));
        QVERIFY(t20.SingleShot(40, &r, chMsgOp(&Recorder::onMessage)));
        QVERIFY(t10.IsActive());
        const int ticks = ui->GetNextTimerTicks();
        // The earliest deadline; 0 when a loaded machine let it pass already.
        QVERIFY2(ticks >= 0 && ticks <= 20, qPrintable(QString::number(ticks)));
        QVERIFY(pumpUntil(*ui, [&] { return r.calls.load() == 3; }));
        QCOMPARE(r.calls.load(), 3);
        const auto msgs = r.snapshot();
        QCOMPARE(msgs.size(), size_t(3));
        for (uint32_t m : msgs) {
            QCOMPARE(m, CH_TIMER_MESSAGE);
        }
        QVERIFY(!t10.IsActive() && !t20.IsActive() && !t30.IsActive());
        QVERIFY(ui->GetNextTimerTicks() < 0);
    }

    void timerOrderIsByDeadlineNotByArming()
    {
        struct Ordered : chMessageHandler
        {
            std::vector<int> fired;
            int a(msgObject &)
            {
                fired.push_back(1);
                return 1;
            }
            int b(msgObject &)
            {
                fired.push_back(2);
                return 1;
            }
            int c(msgObject &)
            {
                fired.push_back(3);
                return 1;
            }
        } h;
        chThreadTimer t1, t2, t3;
        t3.SingleShot(45, &h, chMsgOp(&Ordered::c));
        t1.SingleShot(5, &h, chMsgOp(&Ordered::a));
        t2.SingleShot(25, &h, chMsgOp(&Ordered::b));
        QVERIFY(pumpUntil(*ui, [&] { return h.fired.size() == 3; }));
        QCOMPARE(h.fired, (std::vector<int>{1, 2, 3}));
    }

    void nextTimerTicksRoundsUpAndReportsDue()
    {
        Recorder r;
        chThreadTimer t;
        QVERIFY(ui->GetNextTimerTicks() < 0);
        // Rounded up: 250 exactly unless the machine let a whole millisecond pass in between.
        const auto armed = chRuntimeNow();
        QVERIFY(t.SingleShot(250, &r, chMsgOp(&Recorder::onMessage)));
        const int ticks = ui->GetNextTimerTicks();
        const auto slack =
            std::chrono::duration_cast<std::chrono::milliseconds>(chRuntimeNow() - armed).count();
        QVERIFY2(ticks <= 250 && ticks >= 250 - slack,
                 qPrintable(QStringLiteral("%1 ticks, %2 ms passed").arg(ticks).arg(slack)));
        ui->DispatchQueuedMessage(0);
        QVERIFY(ui->nextWaitTicks > 0 && ui->nextWaitTicks <= 250);
        QVERIFY(t.SingleShot(0, &r, chMsgOp(&Recorder::onMessage)));
        QCOMPARE(ui->GetNextTimerTicks(), 0);
        QCOMPARE(ui->DispatchQueuedMessage(0), 0);
        QCOMPARE(r.calls.load(), 1);
        QVERIFY(ui->nextWaitTicks < 0);
        QVERIFY(!t.SingleShot(-1, &r, chMsgOp(&Recorder::onMessage)));
        QVERIFY(!t.SingleShot(10, nullptr, chMsgOp(&Recorder::onMessage)));
    }

    void periodicTimerRepeatsUntilKilled()
    {
        Recorder r;
        chThreadTimer t;
        QVERIFY(!t.SetTimer(0, &r, chMsgOp(&Recorder::onMessage)));
        QVERIFY(t.SetTimer(10, &r, chMsgOp(&Recorder::onMessage)));
        QVERIFY(pumpUntil(*ui, [&] { return r.calls.load() >= 4; }));
        QVERIFY(t.IsActive());
        t.KillTimer();
        QVERIFY(!t.IsActive());
        const int after = r.calls.load();
        ui->DispatchQueuedMessage(50);
        QCOMPARE(r.calls.load(), after);
        QVERIFY(ui->GetNextTimerTicks() < 0);
    }

    void rearmingReplacesThePreviousDeadline()
    {
        Recorder r;
        chThreadTimer t;
        QVERIFY(t.SingleShot(10, &r, chMsgOp(&Recorder::onMessage)));
        QVERIFY(t.SingleShot(200, &r, chMsgOp(&Recorder::onMessage)));
        // The first deadline lies well behind the runtime's clock, the second well ahead.
        chRuntimeAdvanceClock(60);
        ui->DispatchQueuedMessage(0);
        QCOMPARE(r.calls.load(), 0);
        const int ticks = ui->GetNextTimerTicks();
        QVERIFY2(ticks > 0 && ticks <= 140, qPrintable(QString::number(ticks)));
    }

    void destroyedHandlerCancelsItsTimers()
    {
        std::atomic<int> counter{0};
        chThreadTimer t;
        {
            Counted c(counter);
            QVERIFY(t.SingleShot(0, &c, chMsgOp(&Counted::onMessage)));
            QVERIFY(t.IsActive());
        }
        QVERIFY(!t.IsActive());
        ui->DispatchQueuedMessage(0);
        QCOMPARE(counter.load(), 0);
        QVERIFY(ui->GetNextTimerTicks() < 0);
    }

    void timerArmedFromAnotherThreadWakesASleepingThread()
    {
        Worker w;
        QVERIFY(w.Start());
        std::unique_ptr<Recorder> r;
        w.runSync([&] { r.reset(new Recorder); });
        chThreadTimer t;
        const auto start = Clock::now();
        // The worker is blocked waiting with nothing armed; the timer must still fire on time.
        QVERIFY(t.SingleShot(30, r.get(), chMsgOp(&Recorder::onMessage)));
        QVERIFY(QTest::qWaitFor([&] { return r->calls.load() == 1; }, 5000));
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        QVERIFY2(elapsed >= 29 && elapsed < 1000, qPrintable(QString::number(elapsed)));
        QVERIFY(r->threadSnapshot()[0] == w.threadId());
        w.runSync([&] { r.reset(); });
    }

    void startStopLifecycle()
    {
        LifeThread t;
        QVERIFY(!t.Stop()); // never started
        QVERIFY(t.Start());
        QVERIFY(!t.Start()); // already running
        QVERIFY(QTest::qWaitFor([&] { return t.snapshot().size() >= 2; }, 5000));
        QVERIFY(t.IsRunning());
        QVERIFY(t.Stop());
        QVERIFY(!t.IsRunning());
        QVERIFY(!t.Stop()); // twice is harmless
        QCOMPARE(t.snapshot(),
                 (std::vector<std::string>{"AfterThreadLaunched", "Run", "BeforeThreadShutdown", "onExit"}));
        QVERIFY(t.loopThread != std::this_thread::get_id());
        // A stopped thread object can be started again.
        QVERIFY(t.Start());
        QVERIFY(t.Stop());
        QCOMPARE(t.snapshot().size(), size_t(8));
    }

    void stopFromInsideTheThreadDoesNotDeadlock()
    {
        auto t = std::make_unique<LifeThread>();
        t->onDefault = [&](msgObject &) { t->Stop(); };
        QVERIFY(t->Start());
        QVERIFY(msgPostToThread(t.get(), msgObject(1)));
        QVERIFY(QTest::qWaitFor([&] { return !t->IsRunning(); }, 5000));
        QCOMPARE(t->snapshot().back(), std::string("onExit"));
        t.reset(); // joins the finished thread
    }

    void quitEndsTheQueue()
    {
        Recorder r;
        QVERIFY(msgPostToHandler(&r, chMsgOp(&Recorder::onMessage), msgObject(1)));
        chThreadTimer t;
        QVERIFY(t.SingleShot(10, &r, chMsgOp(&Recorder::onMessage)));
        QVERIFY(ui->PostQuit());
        QVERIFY(!msgPostToHandler(&r, chMsgOp(&Recorder::onMessage), msgObject(2)));
        QCOMPARE(ui->DispatchQueuedMessage(0), CH_QUEUE_QUIT);
        QCOMPARE(r.snapshot(), std::vector<uint32_t>{1}); // work queued before the quit still ran
        QCOMPARE(ui->DispatchQueuedMessage(0), CH_QUEUE_QUIT);
        QCOMPARE(ui->HasMessageQueued(), 0);
        QVERIFY(ui->GetNextTimerTicks() < 0);
        QVERIFY(ui->nextWaitTicks < 0);
    }

    void queueBoundRefusesAndRecovers()
    {
        Recorder r;
        ui->queue()->setLimit(100);
        for (int i = 0; i < 100; ++i) {
            QVERIFY(msgPostToHandler(&r, chMsgOp(&Recorder::onMessage), msgObject(1)));
        }
        QVERIFY(!msgPostToHandler(&r, chMsgOp(&Recorder::onMessage), msgObject(2)));
        QCOMPARE(msgBroadcastToGroup("Nobody", 1), 0);
        QVERIFY(msgJoinMessageGroup("Bounded", &r, chMsgOp(&Recorder::onMessage)));
        QCOMPARE(msgBroadcastToGroup("Bounded", 3), 0); // refused members are not counted as reached
        ui->DispatchQueuedMessage(0);
        QCOMPARE(r.calls.load(), 100);
        QVERIFY(msgPostToHandler(&r, chMsgOp(&Recorder::onMessage), msgObject(4)));
        QCOMPARE(ui->queue()->limit(), 100u);
        QCOMPARE(CH_QUEUE_LIMIT, 4194304u);
    }

    void defaultLimitIsTheProcessBound() { QCOMPARE(ui->queue()->limit(), CH_QUEUE_LIMIT); }

    void dispatchTakesOnlyWhatWasQueuedAtEntry()
    {
        // A handler that re-posts to itself forever must not trap the dispatcher.
        struct Chain : chMessageHandler
        {
            int calls = 0;
            int onMessage(msgObject &msg)
            {
                ++calls;
                msgPostToHandler(this, chMsgOp(&Chain::onMessage), msg);
                return 1;
            }
        } chain;
        QVERIFY(msgPostToHandler(&chain, chMsgOp(&Chain::onMessage), msgObject(1)));
        QVERIFY(msgPostToHandler(&chain, chMsgOp(&Chain::onMessage), msgObject(2)));
        QCOMPARE(ui->DispatchQueuedMessage(0), 0);
        QCOMPARE(chain.calls, 2);
        QCOMPARE(ui->nextWaitTicks, 0);
        QCOMPARE(ui->HasMessageQueued(), 1);
        QCOMPARE(ui->DispatchQueuedMessage(0), 0);
        QCOMPARE(chain.calls, 4);
    }

    void longStreakOfMoreWorkYieldsBriefly()
    {
        struct Chain : chMessageHandler
        {
            int onMessage(msgObject &msg)
            {
                msgPostToHandler(this, chMsgOp(&Chain::onMessage), msg);
                return 1;
            }
        } chain;
        QVERIFY(msgPostToHandler(&chain, chMsgOp(&Chain::onMessage), msgObject(1)));
        // A caller that loops while told "0" gets a pause of 1 ms within a bounded time, so a flood
        // cannot hold its own event loop forever.
        const auto start = Clock::now();
        int zeros = 0;
        for (;;) {
            QCOMPARE(ui->DispatchQueuedMessage(0), 0);
            if (ui->nextWaitTicks != 0) {
                break;
            }
            ++zeros;
            QVERIFY(Clock::now() - start < std::chrono::seconds(2));
        }
        QCOMPARE(ui->nextWaitTicks, 1);
        QVERIFY(zeros > 10);
        QVERIFY(Clock::now() - start >= std::chrono::milliseconds(99));
        // The streak starts over: the next call reports more work again.
        ui->DispatchQueuedMessage(0);
        QCOMPARE(ui->nextWaitTicks, 0);
    }

    void floodFromAnotherThreadIsNotLost()
    {
        Recorder r;
        std::atomic<int> posted{0};
        std::thread producer([&] {
            for (int i = 0; i < 20000; ++i) {
                if (msgPostToHandler(&r, chMsgOp(&Recorder::onMessage), msgObject(1))) {
                    posted.fetch_add(1);
                }
            }
        });
        const bool drained = pumpUntil(
            *ui, [&] { return r.calls.load() == 20000; }, 20000);
        producer.join();
        QVERIFY(drained);
        QCOMPARE(posted.load(), 20000);
    }

    void nestedDispatchLosesNothing()
    {
        struct Nester : chMessageHandler
        {
            chThreadLocal *thread;
            std::vector<uint32_t> seen;
            int onMessage(msgObject &msg)
            {
                seen.push_back(msg.message);
                if (msg.message == 1) {
                    msgPostToHandler(this, chMsgOp(&Nester::onMessage), msgObject(10));
                    thread->DispatchQueuedMessage(0);
                }
                return 1;
            }
        } n;
        n.thread = ui.get();
        for (uint32_t i = 1; i <= 3; ++i) {
            QVERIFY(msgPostToHandler(&n, chMsgOp(&Nester::onMessage), msgObject(i)));
        }
        ui->DispatchQueuedMessage(0);
        ui->DispatchQueuedMessage(0);
        std::sort(n.seen.begin(), n.seen.end());
        QCOMPARE(n.seen, (std::vector<uint32_t>{1, 2, 3, 10}));
    }

    void wakeSourceSignalsEachNewBatchOnce()
    {
        Recorder r;
        if (chIsSocketEvent()) {
            const int fd = *static_cast<int *>(ui->wakeSource);
            char buffer[64];
            while (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
            }
            for (int i = 0; i < 50; ++i) {
                msgPostToHandler(&r, chMsgOp(&Recorder::onMessage), msgObject(1));
            }
            pollfd pfd{fd, POLLIN, 0};
            QCOMPARE(::poll(&pfd, 1, 1000), 1);
            QCOMPARE(::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT), ssize_t(1));
            ui->DispatchQueuedMessage(0);
            msgPostToHandler(&r, chMsgOp(&Recorder::onMessage), msgObject(1));
            QCOMPARE(::poll(&pfd, 1, 1000), 1);
            ui->DispatchQueuedMessage(0);
        } else {
            auto *signal = static_cast<chSignal *>(ui->wakeSource);
            std::atomic<int> wakes{0};
            TestFunctor f(&wakes, 1);
            QVERIFY(signal->connect(xSigSubscriber(f)));
            std::thread::id emitter;
            std::thread poster([&] {
                emitter = std::this_thread::get_id();
                for (int i = 0; i < 50; ++i) {
                    msgPostToHandler(&r, chMsgOp(&Recorder::onMessage), msgObject(1));
                }
            });
            poster.join();
            QCOMPARE(wakes.load(), 1);
            ui->DispatchQueuedMessage(0);
            msgPostToHandler(&r, chMsgOp(&Recorder::onMessage), msgObject(1));
            QCOMPARE(wakes.load(), 2);
            QVERIFY(signal->disconnect(xSigSubscriber(f)));
            ui->DispatchQueuedMessage(0);
        }
        QCOMPARE(r.calls.load(), 51);
    }

    void signalConnectClonesAndDisconnectsByEquality()
    {
        chSignal signal;
        std::atomic<int> a{0}, b{0};
        {
            TestFunctor fa(&a, 1);
            QVERIFY(signal.connect(xSigSubscriber(fa)));
            QVERIFY(!signal.connect(xSigSubscriber(fa))); // an equal subscriber is there already
        }                                                 // the signal holds its own clone
        TestFunctor fb(&b, 2);
        QVERIFY(signal.connect(xSigSubscriber(fb)));
        TestFunctor empty(nullptr, 0);
        QVERIFY(!signal.connect(xSigSubscriber(empty)));
        QCOMPARE(signal.subscriberCount(), 2);
        signal.emit(11, 0, 0, 0, 55);
        QCOMPARE(a.load(), 1);
        QCOMPARE(b.load(), 1);
        QCOMPARE(TestFunctor::lastA0, 11u);
        QCOMPARE(TestFunctor::lastA4, 55u);
        TestFunctor other(&a, 1);
        QVERIFY(signal.disconnect(xSigSubscriber(other)));
        QVERIFY(!signal.disconnect(xSigSubscriber(other)));
        signal.emit();
        QCOMPARE(a.load(), 1);
        QCOMPARE(b.load(), 2);
        QCOMPARE(fb.query(), 0);
    }

    void emitRunsOnTheCallingThread()
    {
        chSignal signal;
        struct ThreadFunctor : FunctorImpBase
        {
            std::thread::id *where;
            explicit ThreadFunctor(std::thread::id *w) : where(w) {}
            void invoke(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) override
            {
                *where = std::this_thread::get_id();
            }
            bool equals(const FunctorImpBase &o) const override
            {
                auto *t = dynamic_cast<const ThreadFunctor *>(&o);
                return t && t->where == where;
            }
            FunctorImpBase *clone() const override { return new ThreadFunctor(where); }
            void *target() const override { return where; }
            bool isEmpty() const override { return !where; }
        };
        std::thread::id where;
        ThreadFunctor f(&where);
        signal.connect(xSigSubscriber(f));
        std::thread::id emitter;
        std::thread([&] {
            emitter = std::this_thread::get_id();
            signal.emit();
        }).join();
        QVERIFY(where == emitter);
    }

private:
    std::unique_ptr<ProbeThread> ui;
};

QTEST_GUILESS_MAIN(TestDskThread)
#include "DskThreadTest.moc"
