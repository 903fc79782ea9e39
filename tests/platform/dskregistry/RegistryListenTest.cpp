#include "ETLLib.h"
#include "RegistryTestFiles.h"
#include "RegistryWatcher.h"
#include "chRegKey.h"
#include "chThreadLocal.h"
#include "dskregistry.h"
#include "msgObject.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Change
{
    uint32_t message;
    bool present;
    std::string value;
    int64_t number;
    std::thread::id thread;
};

class Recorder : public chMessageHandler
{
public:
    int onChange(msgObject &msg)
    {
        std::lock_guard<std::mutex> lock(mutex);
        changes.push_back(
            Change{msg.message, msg.wParam != 0, msg.data, msg.lParam, std::this_thread::get_id()});
        return 1;
    }
    size_t count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return changes.size();
    }
    Change last()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return changes.back();
    }

    std::mutex mutex;
    std::vector<Change> changes;
};

// Like a component that owns its key and listens with itself as the handler.
class KeyOwner : public chMessageHandler
{
public:
    KeyOwner()
    {
        key.OpenKey("system.ini", "Syslog", "qtLogEnable");
        listening = registryListenKey(key, this, chMsgOp(&KeyOwner::onChange));
    }
    int onChange(msgObject &)
    {
        ++calls;
        return 1;
    }
    chRegKey key;
    bool listening = false;
    int calls = 0;
};

// A message thread of its own that listens from its own loop.
class ListeningThread : public chThreadLocal
{
public:
    ListeningThread() : chThreadLocal("listener") {}
    int AfterThreadLaunched() override
    {
        owner = std::this_thread::get_id();
        // A handler belongs to the thread it is created on.
        recorder = std::make_unique<Recorder>();
        key.OpenKey("system.ini", "Syslog", "nLogLevel");
        listening.store(registryListenKey(key, recorder.get(), chMsgOp(&Recorder::onChange)));
        ready.store(true);
        return 1;
    }
    chRegKey key;
    std::unique_ptr<Recorder> recorder;
    std::thread::id owner;
    std::atomic<bool> listening{false};
    std::atomic<bool> ready{false};
};

} // namespace

class TestRegistryListen : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    std::unique_ptr<chThreadLocal> m_thread;
    std::string m_user;
    std::string m_install;

    // Runs this thread's message loop until the recorder holds count changes or the time is up.
    qint64 pumpUntil(Recorder &recorder, size_t count, int limitMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < limitMs) {
            m_thread->DispatchQueuedMessage(10);
            if (recorder.count() >= count) {
                return timer.elapsed();
            }
        }
        return -1;
    }
    // Listens to the log switch for `recorder` and gives the watcher time to start.
    bool listenToLogSwitch(chRegKey *key, Recorder *recorder)
    {
        if (!key->OpenKey("system.ini", "Syslog", "qtLogEnable") ||
            !registryListenKey(*key, recorder, chMsgOp(&Recorder::onChange))) {
            return false;
        }
        pumpFor(100);
        return true;
    }

    void pumpFor(int ms)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) {
            m_thread->DispatchQueuedMessage(10);
        }
    }
    // Waits until the value settles on the expected text; intermediate states of an edit may be seen.
    qint64 pumpUntilValue(Recorder &recorder, const std::string &value, int limitMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < limitMs) {
            m_thread->DispatchQueuedMessage(10);
            if (recorder.count() > 0 && recorder.last().value == value) {
                return timer.elapsed();
            }
        }
        return -1;
    }
    // Context switches of the watcher thread so far, or -1 when there is none.
    static long watcherSwitches()
    {
        const QStringList tasks =
            QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &task : tasks) {
            QFile comm("/proc/self/task/" + task + "/comm");
            if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "config-watch") {
                continue;
            }
            QFile status("/proc/self/task/" + task + "/status");
            if (!status.open(QIODevice::ReadOnly)) {
                return -1;
            }
            long switches = 0;
            for (const QByteArray &line : status.readAll().split('\n')) {
                if (line.startsWith("voluntary_ctxt_switches:") ||
                    line.startsWith("nonvoluntary_ctxt_switches:")) {
                    switches += line.mid(line.indexOf(':') + 1).trimmed().toLong();
                }
            }
            return switches;
        }
        return -1;
    }
    size_t listeners()
    {
        return RegistryWatcher::existing() ? RegistryWatcher::existing()->listenerCount() : 0;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        etlOverrideAppRootPath(m_root.path().toStdString());
        m_user = etlGetAppDataRootPath() + "/system.ini";
        m_install = etlGetAppRootPath() + "/config/system.ini";
        m_thread = std::make_unique<chThreadLocal>("test");
        QVERIFY(m_thread->AttachCurrentThread());
    }

    void cleanupTestCase()
    {
        m_thread->DetachThread();
        m_thread.reset();
    }

    void init()
    {
        QVERIFY(RegistryTestFiles::removeTree(etlGetAppDataRootPath()));
        QVERIFY(RegistryTestFiles::makeFolder(etlGetAppDataRootPath()));
        QVERIFY(RegistryTestFiles::makeFolder(etlGetAppRootPath() + "/config"));
        QVERIFY(RegistryTestFiles::writeFile(m_install, "[Syslog]\nnLogLevel=5\nqtLogEnable=1\n"));
        pumpFor(100);
    }

    void cleanup() { QCOMPARE(listeners(), size_t(0)); }

    void inPlaceEditReachesTheHandlerThread()
    {
        QVERIFY(RegistryTestFiles::writeFile(m_user, "[Syslog]\nqtLogEnable=1\n"));
        Recorder recorder;
        chRegKey key;
        QVERIFY(listenToLogSwitch(&key, &recorder));
        QCOMPARE(recorder.count(), size_t(0));

        QVERIFY(RegistryTestFiles::writeFile(m_user, "[Syslog]\nqtLogEnable=0\n"));
        const qint64 took = pumpUntilValue(recorder, "0", 3000);
        QVERIFY2(took >= 0 && took < 1000, qPrintable(QString("took %1 ms").arg(took)));
        const Change change = recorder.last();
        QCOMPARE(change.message, DSK_MSG_REGISTRY_CHANGED);
        QVERIFY(change.present);
        QCOMPARE(change.number, int64_t(0));
        QCOMPARE(change.thread, std::this_thread::get_id());
        QCOMPARE(key.GetIntValue(1), 0);
    }

    void replaceByRenameIsSeen()
    {
        QVERIFY(RegistryTestFiles::writeFile(m_user, "[Syslog]\nqtLogEnable=1\n"));
        Recorder recorder;
        chRegKey key;
        QVERIFY(listenToLogSwitch(&key, &recorder));
        QVERIFY(RegistryTestFiles::replaceFile(m_user, "[Syslog]\nqtLogEnable=0\n"));
        const qint64 took = pumpUntil(recorder, 1, 3000);
        QVERIFY2(took >= 0 && took < 1000, qPrintable(QString("took %1 ms").arg(took)));
        QCOMPARE(recorder.last().value, std::string("0"));
        QCOMPARE(recorder.count(), size_t(1));
    }

    void installedCopyChangesAreSeenToo()
    {
        Recorder recorder;
        chRegKey key;
        QVERIFY(key.OpenKey("system.ini", "Syslog", "nLogLevel"));
        QVERIFY(registryListenKey(key, &recorder, chMsgOp(&Recorder::onChange)));
        pumpFor(100);
        QVERIFY(RegistryTestFiles::replaceFile(m_install, "[Syslog]\nnLogLevel=7\nqtLogEnable=1\n"));
        QVERIFY(pumpUntilValue(recorder, "7", 1000) >= 0);
        // A user value hides the installed one; removing the user copy shows it again.
        QVERIFY(RegistryTestFiles::writeFile(m_user, "[Syslog]\nnLogLevel=3\n"));
        QVERIFY(pumpUntilValue(recorder, "3", 1000) >= 0);
        QVERIFY(::unlink(m_user.c_str()) == 0);
        QVERIFY(pumpUntilValue(recorder, "7", 1000) >= 0);
        QVERIFY(::unlink(m_install.c_str()) == 0);
        QVERIFY(pumpUntil(recorder, 4, 1000) >= 0);
        QVERIFY(!recorder.last().present);
    }

    void unchangedValueSendsNothing()
    {
        QVERIFY(RegistryTestFiles::writeFile(m_user, "[Syslog]\nqtLogEnable=1\nnLogLevel=5\n"));
        Recorder recorder;
        chRegKey key;
        QVERIFY(listenToLogSwitch(&key, &recorder));
        QVERIFY(RegistryTestFiles::writeFile(m_user, "[Syslog]\nqtLogEnable=1\nnLogLevel=5\n"));
        QVERIFY(
            RegistryTestFiles::replaceFile(m_user, "; touched\n[Syslog]\nqtLogEnable = 1\nnLogLevel=7\n"));
        QVERIFY(RegistryTestFiles::writeFile(m_install, "[Syslog]\nqtLogEnable=0\n"));
        pumpFor(1200);
        QCOMPARE(recorder.count(), size_t(0));
    }

    // The end of the event loop stops watching: an edit after it is neither read nor posted, and the
    // next listen watches again.
    void stoppedWatchingReadsNothingUntilTheNextListen()
    {
        QVERIFY(RegistryTestFiles::writeFile(m_user, "[Syslog]\nqtLogEnable=1\n"));
        Recorder recorder;
        chRegKey key;
        QVERIFY(listenToLogSwitch(&key, &recorder));
        registryStopWatching();
        QVERIFY(RegistryTestFiles::writeFile(m_user, "[Syslog]\nqtLogEnable=0\n"));
        pumpFor(1200);
        QCOMPARE(recorder.count(), size_t(0));

        Recorder other;
        chRegKey otherKey;
        QVERIFY(otherKey.OpenKey("system.ini", "Syslog", "nLogLevel"));
        QVERIFY(registryListenKey(otherKey, &other, chMsgOp(&Recorder::onChange)));
        QVERIFY(pumpUntilValue(recorder, "0", 3000) >= 0);
        QVERIFY(RegistryTestFiles::writeFile(m_user, "[Syslog]\nqtLogEnable=1\nnLogLevel=7\n"));
        QVERIFY(pumpUntilValue(other, "7", 3000) >= 0);
    }

    void folderCreatedLaterIsWatched()
    {
        QVERIFY(RegistryTestFiles::removeTree(etlGetAppDataRootPath()));
        Recorder recorder;
        chRegKey key;
        QVERIFY(listenToLogSwitch(&key, &recorder));
        QVERIFY(RegistryTestFiles::makeFolder(etlGetAppDataRootPath()));
        QVERIFY(RegistryTestFiles::writeFile(m_user, "[Syslog]\nqtLogEnable=0\n"));
        const qint64 took = pumpUntilValue(recorder, "0", 3000);
        QVERIFY2(took >= 0 && took < 1000, qPrintable(QString("took %1 ms").arg(took)));
        // The new folder itself is watched now: a later in-place edit arrives as well.
        QVERIFY(RegistryTestFiles::writeFile(m_user, "[Syslog]\nqtLogEnable=2\n"));
        QVERIFY(pumpUntilValue(recorder, "2", 1000) >= 0);
    }

    void folderReplacedLaterIsWatched()
    {
        QVERIFY(RegistryTestFiles::writeFile(m_user, "[Syslog]\nqtLogEnable=1\n"));
        Recorder recorder;
        chRegKey key;
        QVERIFY(listenToLogSwitch(&key, &recorder));
        // The watched folder goes away and a new one takes its place.
        QVERIFY(RegistryTestFiles::removeTree(etlGetAppDataRootPath()));
        pumpFor(100);
        QVERIFY(RegistryTestFiles::makeFolder(etlGetAppDataRootPath()));
        QVERIFY(RegistryTestFiles::writeFile(m_user, "[Syslog]\nqtLogEnable=0\n"));
        const qint64 took = pumpUntilValue(recorder, "0", 3000);
        QVERIFY2(took >= 0 && took < 1000, qPrintable(QString("took %1 ms").arg(took)));
        QVERIFY(RegistryTestFiles::writeFile(m_user, "[Syslog]\nqtLogEnable=3\n"));
        QVERIFY(pumpUntilValue(recorder, "3", 1000) >= 0);
    }

    void idleWatcherSleeps()
    {
        QVERIFY(RegistryTestFiles::writeFile(m_user, "[Syslog]\nqtLogEnable=1\n"));
        Recorder recorder;
        chRegKey key;
        QVERIFY(key.OpenKey("system.ini", "Syslog", "qtLogEnable"));
        QVERIFY(registryListenKey(key, &recorder, chMsgOp(&Recorder::onChange)));
        pumpFor(300);
        // A laptop pays for every wake-up; with nothing changing the watcher must not run at all.
        const long before = watcherSwitches();
        QVERIFY2(before >= 0, "no config-watch thread");
        QThread::msleep(1500);
        const long after = watcherSwitches();
        QVERIFY2(after - before <= 0, qPrintable(QString("%1 wake-ups while idle").arg(after - before)));
        // Closing an inotify instance, which every exit does, waits for a kernel grace period.
        const QStringList fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System);
        for (const QString &fd : fds) {
            QVERIFY2(!QFile::symLinkTarget("/proc/self/fd/" + fd).contains("inotify"), qPrintable(fd));
        }
        QCOMPARE(recorder.count(), size_t(0));
    }

    void unlistenAndDestroyedKeysStopMessages()
    {
        QVERIFY(RegistryTestFiles::writeFile(m_user, "[Syslog]\nqtLogEnable=1\n"));
        Recorder recorder;
        {
            chRegKey key;
            QVERIFY(key.OpenKey("system.ini", "Syslog", "qtLogEnable"));
            QVERIFY(registryListenKey(key, &recorder, chMsgOp(&Recorder::onChange)));
            QCOMPARE(listeners(), size_t(1));
        }
        QCOMPARE(listeners(), size_t(0));
        chRegKey key;
        QVERIFY(key.OpenKey("system.ini", "Syslog", "qtLogEnable"));
        QVERIFY(registryListenKey(key, &recorder, chMsgOp(&Recorder::onChange)));
        QVERIFY(registryUnlistenKey(key, &recorder));
        QVERIFY(!registryUnlistenKey(key, &recorder));
        QVERIFY(RegistryTestFiles::writeFile(m_user, "[Syslog]\nqtLogEnable=0\n"));
        pumpFor(800);
        QCOMPARE(recorder.count(), size_t(0));
    }

    void ownerDestroyedWhileChangesArePending()
    {
        QVERIFY(RegistryTestFiles::writeFile(m_user, "[Syslog]\nqtLogEnable=1\n"));
        for (int round = 0; round < 5; ++round) {
            auto owner = std::make_unique<KeyOwner>();
            QVERIFY(owner->listening);
            QVERIFY(RegistryTestFiles::writeFile(m_user, round % 2 ? "[Syslog]\nqtLogEnable=1\n"
                                                                   : "[Syslog]\nqtLogEnable=0\n"));
            std::this_thread::sleep_for(std::chrono::milliseconds(20 * round));
            owner.reset();
        }
        // Whatever was queued for the dead owners must be dropped, not delivered.
        pumpFor(600);
        QCOMPARE(listeners(), size_t(0));
    }

    void refusesBadRegistrations()
    {
        Recorder recorder;
        chRegKey closed;
        QVERIFY(!registryListenKey(closed, &recorder, chMsgOp(&Recorder::onChange)));
        chRegKey key;
        QVERIFY(key.OpenKey("system.ini", "Syslog", "qtLogEnable"));
        QVERIFY(!registryListenKey(key, nullptr, chMsgOp(&Recorder::onChange)));
        QVERIFY(!registryListenKey(key, &recorder, nullptr));
        bool fromPlainThread = true;
        std::thread plain(
            [&] { fromPlainThread = registryListenKey(key, &recorder, chMsgOp(&Recorder::onChange)); });
        plain.join();
        QVERIFY(!fromPlainThread);
    }

    void deliveredOnAStartedThread()
    {
        QVERIFY(RegistryTestFiles::writeFile(m_user, "[Syslog]\nnLogLevel=5\n"));
        ListeningThread thread;
        QVERIFY(thread.Start());
        QTRY_VERIFY_WITH_TIMEOUT(thread.ready.load(), 2000);
        QVERIFY(thread.listening.load());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        QVERIFY(RegistryTestFiles::replaceFile(m_user, "[Syslog]\nnLogLevel=6\n"));
        QTRY_VERIFY_WITH_TIMEOUT(thread.recorder->count() >= 1, 1000);
        const Change change = thread.recorder->last();
        QCOMPARE(change.value, std::string("6"));
        QCOMPARE(change.number, int64_t(6));
        QCOMPARE(change.thread, thread.owner);
        QVERIFY(change.thread != std::this_thread::get_id());
        QVERIFY(thread.Stop());
        QVERIFY(registryUnlistenKey(thread.key, thread.recorder.get()));
    }
};

QTEST_GUILESS_MAIN(TestRegistryListen)
#include "RegistryListenTest.moc"
