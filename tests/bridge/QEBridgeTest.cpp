#include "ETLLib.h"
#include "ETLMessageAdapter.h"
#include "MemberSlotFunctionImp.h"
#include "QEBridge.h"
#include "chSignal.h"
#include "chThreadQueue.h"
#include "chThreadTimer.h"
#include "dskthread.h"
#include "msgObject.h"
#include "xSigSubscriber.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMetaMethod>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QtTest>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#undef emit

namespace {

class Recorder : public chMessageHandler
{
public:
    int onMessage(msgObject &msg)
    {
        std::lock_guard<std::mutex> guard(lock);
        messages.push_back(msg.message);
        threads.insert(std::this_thread::get_id());
        runs.insert(QEBridge::instance().dispatchRuns());
        calls.fetch_add(1);
        if (onCall) {
            onCall();
        }
        return 1;
    }

    std::atomic<int> calls{0};
    std::mutex lock;
    std::vector<uint32_t> messages;
    std::set<std::thread::id> threads;
    std::set<uint64_t> runs;
    std::function<void()> onCall;
};

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

// Reads the protected loop flag of the thread object.
struct LoopFlag : QEBridgeThreadLocal
{
    static int32_t of(QEBridgeThreadLocal &thread) { return thread.*(&LoopFlag::loopActive); }
};

struct Target
{
    int calls = 0;
    uint32_t first = 0;
    void onWords(uint32_t a0, uint32_t, uint32_t, uint32_t, uint32_t) { ++calls, first = a0; }
    void other(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
};

int countTraceLines(const QString &text)
{
    QFile log(QString::fromStdString(etlGetAppDocPath() + "/log/tarn-desktop.log"));
    if (!log.open(QIODevice::ReadOnly)) {
        return 0;
    }
    return QString::fromUtf8(log.readAll()).count(text);
}

} // namespace

class TestQEBridge : public QObject
{
    Q_OBJECT

private:
    QEBridge *bridge = nullptr;

    // Lets everything the bridge has queued run, without the loop going idle.
    void settle()
    {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
    }

private slots:
    void initTestCase()
    {
        const std::string doc = qEnvironmentVariable("HOME").toStdString() + "/doc";
        pathCreateDirectory(doc + "/log");
        etlSetAppDocPath(doc);

        bridge = &QEBridge::instance();
        QVERIFY(bridge == &QEBridge::instance());
        QVERIFY(bridge->timer() == nullptr);
        QVERIFY(!ETLMessageAdapter::exists());
        QVERIFY(chThreadLocal::current() == nullptr);
        QCOMPARE(bridge->threadLocal().GetName(), std::string("ui_thread"));

        bridge->initBridge();

        QVERIFY(chThreadLocal::current() == &bridge->threadLocal());
        QVERIFY(ETLMessageAdapter::exists());
        QTimer *timer = bridge->timer();
        QVERIFY(timer);
        QVERIFY(timer->parent() == bridge);
        QVERIFY(timer->isSingleShot());
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 0);
        const auto notifiers = bridge->findChildren<QSocketNotifier *>();
        if (chIsSocketEvent()) {
            QCOMPARE(notifiers.size(), 1);
            QCOMPARE(notifiers[0]->type(), QSocketNotifier::Read);
            QVERIFY(notifiers[0]->socket() >= 0);
        } else {
            QCOMPARE(notifiers.size(), 0);
        }
    }

    void metaObjectNamesFourSlotsInOrder()
    {
        const QMetaObject *meta = bridge->metaObject();
        QCOMPARE(meta->className(), "QEBridge");
        QCOMPARE(meta->methodCount() - meta->methodOffset(), 4);
        const char *expected[] = {"aboutToBlock()", "aboutToQuit()", "timeout()",
                                  "slotETLSocketActived(int)"};
        for (int i = 0; i < 4; ++i) {
            const QMetaMethod method = meta->method(meta->methodOffset() + i);
            QCOMPARE(method.methodSignature().constData(), expected[i]);
            QCOMPARE(method.methodType(), QMetaMethod::Slot);
            QCOMPARE(method.access(), QMetaMethod::Public);
        }
        QVERIFY(bridge->qt_metacast("QEBridge") == bridge);
        QVERIFY(bridge->qt_metacast("NotABridge") == nullptr);
    }

    void firstTurnRunsOneDispatchEvenWhenIdle()
    {
        QCOMPARE(bridge->dispatchRuns(), uint64_t(0));
        QCoreApplication::processEvents();
        QCOMPARE(bridge->dispatchRuns(), uint64_t(1));
        // Nothing was pending, so the run left the timer stopped.
        QVERIFY(!bridge->timer()->isActive());
    }

    void signalPathHasOneSubscriber()
    {
        if (chIsSocketEvent()) {
            QVERIFY(!bridge->findChildren<QSocketNotifier *>().isEmpty());
            return;
        }
        auto *signal =
            static_cast<chSignal *>(static_cast<void *>(bridge->threadLocal().queue()->wakeSource()));
        QCOMPARE(signal->subscriberCount(), 1);
        // The subscriber posts exactly one dispatch event per emission.
        const uint64_t posted = bridge->dispatchEventsPosted();
        std::thread([&] { signal->emit(1, 2, 3, 4, 5); }).join();
        QCOMPARE(bridge->dispatchEventsPosted(), posted + 1);
        settle();
    }

    void functorBindsOperationAndTarget()
    {
        Target a, b;
        MemberSlotFunctionImp<Target> fa(&a, &Target::onWords);
        MemberSlotFunctionImp<Target> fa2(&a, &Target::onWords);
        MemberSlotFunctionImp<Target> fb(&b, &Target::onWords);
        MemberSlotFunctionImp<Target> fo(&a, &Target::other);
        MemberSlotFunctionImp<Target> empty(nullptr, &Target::onWords);
        QVERIFY(fa.equals(fa2));
        QVERIFY(!fa.equals(fb));
        QVERIFY(!fa.equals(fo));
        QVERIFY(fa.target() == &a);
        QVERIFY(!fa.isEmpty());
        QVERIFY(empty.isEmpty());
        QCOMPARE(fa.query(), 0);
        std::unique_ptr<FunctorImpBase> copy(fa.clone());
        QVERIFY(copy->equals(fa) && fa.equals(*copy));
        copy->invoke(77, 0, 0, 0, 0);
        QCOMPARE(a.calls, 1);
        QCOMPARE(a.first, 77u);
        empty.invoke(1, 2, 3, 4, 5); // nothing bound, nothing called

        chSignal signal;
        {
            MemberSlotFunctionImp<Target> temporary(&b, &Target::onWords);
            QVERIFY(signal.connect(xSigSubscriber(temporary)));
        }
        signal.emit(9);
        QCOMPARE(b.calls, 1);
        QVERIFY(signal.disconnect(xSigSubscriber(fb)));
    }

    void messageFromAnotherThreadWakesTheRunningLoop()
    {
        Recorder r;
        QVERIFY(msgJoinMessageGroup("MessageGroupLang", &r, chMsgOp(&Recorder::onMessage)));
        QEventLoop loop;
        r.onCall = [&] { loop.quit(); };
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        // The post comes while the loop sleeps, so only the wake-up can deliver it.
        std::thread worker([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            msgBroadcastToGroup("MessageGroupLang", 703);
        });
        QElapsedTimer elapsed;
        elapsed.start();
        loop.exec();
        worker.join();
        QCOMPARE(r.calls.load(), 1);
        QCOMPARE(r.messages, std::vector<uint32_t>{703});
        QVERIFY(*r.threads.begin() == std::this_thread::get_id());
        QVERIFY2(elapsed.elapsed() < 4000, qPrintable(QString::number(elapsed.elapsed())));
        QVERIFY(msgLeaveMessageGroup("MessageGroupLang", &r));
    }

    void aboutToBlockWithNothingArmedPostsNothing()
    {
        settle();
        QCOMPARE(bridge->threadLocal().HasMessageQueued(), 0);
        QVERIFY(bridge->threadLocal().GetNextTimerTicks() < 0);
        const uint64_t posted = bridge->dispatchEventsPosted();
        bridge->timer()->stop();
        bridge->aboutToBlock();
        QCOMPARE(bridge->dispatchEventsPosted(), posted);
        QVERIFY(!bridge->timer()->isActive());
        // A running timer is left exactly as it was.
        bridge->timer()->start(5000);
        bridge->aboutToBlock();
        QVERIFY(bridge->timer()->isActive());
        QCOMPARE(bridge->timer()->interval(), 5000);
        QCOMPARE(bridge->dispatchEventsPosted(), posted);
        bridge->timer()->stop();
    }

    void aboutToBlockArmsTheQtTimerForTheNextInHouseTimer()
    {
        Recorder r;
        chThreadTimer timer;
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(timer.SingleShot(250, &r, chMsgOp(&Recorder::onMessage)));
        const uint64_t posted = bridge->dispatchEventsPosted();
        bridge->aboutToBlock();
        QVERIFY(bridge->timer()->isActive());
        QVERIFY2(bridge->timer()->interval() >= 249 && bridge->timer()->interval() <= 250,
                 qPrintable(QString::number(bridge->timer()->interval())));
        QCOMPARE(bridge->dispatchEventsPosted(), posted);
        // Tolerance: not before 250 ms, and at most 200 ms late on a loaded machine.
        QTRY_COMPARE_WITH_TIMEOUT(r.calls.load(), 1, 3000);
        QVERIFY2(elapsed.elapsed() >= 249 && elapsed.elapsed() <= 450,
                 qPrintable(QString::number(elapsed.elapsed())));
        QVERIFY(*r.threads.begin() == std::this_thread::get_id());
        QVERIFY(!bridge->timer()->isActive());
    }

    void aboutToBlockWithATimerDueNowPostsInstead()
    {
        Recorder r;
        chThreadTimer timer;
        QVERIFY(timer.SingleShot(0, &r, chMsgOp(&Recorder::onMessage)));
        const uint64_t posted = bridge->dispatchEventsPosted();
        bridge->aboutToBlock();
        QCOMPARE(bridge->dispatchEventsPosted(), posted + 1);
        QVERIFY(!bridge->timer()->isActive());
        settle();
        QCOMPARE(r.calls.load(), 1);
    }

    void aboutToBlockWithAMessageQueuedPosts()
    {
        Recorder r;
        QVERIFY(msgPostToHandler(&r, chMsgOp(&Recorder::onMessage), msgObject(5)));
        const uint64_t posted = bridge->dispatchEventsPosted();
        bridge->aboutToBlock();
        QVERIFY(bridge->dispatchEventsPosted() >= posted + 1);
        settle();
        QCOMPARE(r.calls.load(), 1);
    }

    void socketIsDrainedWithOneDispatchEvent()
    {
        int pair[2];
        QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
        const std::vector<char> bytes(200, 'x');
        QCOMPARE(::write(pair[1], bytes.data(), bytes.size()), ssize_t(200));
        const uint64_t posted = bridge->dispatchEventsPosted();
        bridge->slotETLSocketActived(pair[0]);
        QCOMPARE(bridge->dispatchEventsPosted(), posted + 1);
        char probe;
        QCOMPARE(::recv(pair[0], &probe, 1, MSG_DONTWAIT), ssize_t(-1));
        QVERIFY(errno == EAGAIN || errno == EWOULDBLOCK);
        ::close(pair[0]);
        ::close(pair[1]);
        settle();
    }

    void burstIsHandledInOneRunPerWakeUp()
    {
        settle();
        Recorder r;
        const uint64_t posted = bridge->dispatchEventsPosted();
        std::thread worker([&] {
            for (int i = 0; i < 10000; ++i) {
                msgPostToHandler(&r, chMsgOp(&Recorder::onMessage), msgObject(1));
            }
        });
        worker.join();
        QTRY_COMPARE_WITH_TIMEOUT(r.calls.load(), 10000, 10000);
        QCOMPARE(r.runs.size(), size_t(1));
        QCOMPARE(bridge->dispatchEventsPosted(), posted + 1);
        QVERIFY(*r.threads.begin() == std::this_thread::get_id());
        QCOMPARE(r.threads.size(), size_t(1));
    }

    void destroyedHandlerWithQueuedMessagesIsNeverCalled()
    {
        std::atomic<int> counter{0};
        auto *handler = new Counted(counter);
        std::thread worker([&] {
            for (int i = 0; i < 100; ++i) {
                msgPostToHandler(handler, chMsgOp(&Counted::onMessage), msgObject(1));
            }
        });
        worker.join();
        QCOMPARE(bridge->threadLocal().HasMessageQueued(), 1);
        const uint64_t runs = bridge->dispatchRuns();
        delete handler;
        settle();
        QVERIFY(bridge->dispatchRuns() > runs);
        QCOMPARE(bridge->threadLocal().HasMessageQueued(), 0);
        QCOMPARE(counter.load(), 0);
    }

    void fullQueueRefusesWithAResult()
    {
        Recorder r;
        const int warnings = countTraceLines("is full");
        bridge->threadLocal().queue()->setLimit(10);
        int accepted = 0;
        std::thread worker([&] {
            for (int i = 0; i < 15; ++i) {
                accepted += msgPostToHandler(&r, chMsgOp(&Recorder::onMessage), msgObject(1)) ? 1 : 0;
            }
        });
        worker.join();
        bridge->threadLocal().queue()->setLimit(CH_QUEUE_LIMIT);
        QCOMPARE(accepted, 10);
        QCOMPARE(countTraceLines("is full"), warnings + 1); // one warning for the whole episode
        settle();
        QCOMPARE(r.calls.load(), 10);
    }

    void otherEventsGoToQObject()
    {
        const uint64_t runs = bridge->dispatchRuns();
        // Another user type is QObject's (its customEvent), not a dispatch run.
        QEvent other(static_cast<QEvent::Type>(1001));
        bridge->event(&other);
        QCOMPARE(bridge->dispatchRuns(), runs);
        QEvent unknown(QEvent::Resize);
        QVERIFY(!bridge->event(&unknown));
        QCOMPARE(bridge->dispatchRuns(), runs);
        QEvent dispatch(static_cast<QEvent::Type>(1000));
        QVERIFY(bridge->event(&dispatch));
        QCOMPARE(bridge->dispatchRuns(), runs + 1);
        // A queued slot call arrives as a meta-call event, which only QObject::event understands.
        QMetaObject::invokeMethod(bridge, "timeout", Qt::QueuedConnection);
        QTRY_COMPARE(bridge->dispatchRuns(), runs + 2);
    }

    void aboutToQuitStopsTheTimerAndClearsTheLoopFlag()
    {
        QCOMPARE(LoopFlag::of(bridge->threadLocal()), 1);
        bridge->timer()->start(5000);
        QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
        QCoreApplication::exec();
        QVERIFY(!bridge->timer()->isActive());
        QCOMPARE(LoopFlag::of(bridge->threadLocal()), 0);
    }

    void quitResultTracesOnceAndLeavesTheTimerStopped()
    {
        const QString line = QStringLiteral("N:QEBridge ui_thread etl message queue quit.");
        const int before = countTraceLines(line);
        bridge->timer()->start(5000);
        QVERIFY(bridge->threadLocal().PostQuit());
        QTRY_COMPARE(countTraceLines(line), before + 1);
        QVERIFY(!bridge->timer()->isActive());
        // Idle turns afterwards find nothing to do and write nothing more.
        bridge->aboutToBlock();
        settle();
        QCOMPARE(countTraceLines(line), before + 1);
        QVERIFY(!bridge->timer()->isActive());
        bridge->threadLocal().queue()->resetQuit();
    }

    void afterReleaseNoTimerIsTouched()
    {
        Recorder r;
        chThreadTimer inHouse;
        QPointer<QTimer> old = bridge->timer();
        bridge->releaseBridge();
        QVERIFY(bridge->timer() == nullptr);
        QVERIFY(!ETLMessageAdapter::exists());
        QVERIFY(chThreadLocal::current() == nullptr);
        QTRY_VERIFY(old.isNull());

        QVERIFY(inHouse.SingleShot(250, &r, chMsgOp(&Recorder::onMessage)));
        QVERIFY(bridge->threadLocal().GetNextTimerTicks() > 0);
        bridge->aboutToBlock();
        QEvent dispatch(static_cast<QEvent::Type>(1000));
        QVERIFY(bridge->event(&dispatch));
        bridge->timeout();
        bridge->aboutToQuit();
        QVERIFY(bridge->timer() == nullptr);
        QVERIFY(bridge->findChildren<QTimer *>().isEmpty());

        // Wake-ups still reach the queue: a late message is still delivered on this thread.
        std::thread([&] { msgPostToHandler(&r, chMsgOp(&Recorder::onMessage), msgObject(8)); }).join();
        QTRY_COMPARE(r.calls.load(), 1);
        QVERIFY(*r.threads.begin() == std::this_thread::get_id());
    }
};

QTEST_GUILESS_MAIN(TestQEBridge)
#include "QEBridgeTest.moc"
