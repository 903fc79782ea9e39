// A language change sent from another thread reaches the handler through the real bridge and the Qt
// event loop, as in the program.

#include "ETLLib.h"
#include "QEBridge.h"
#include "TranslaterHandler.h"
#include "cvLabel.h"
#include "dskregistry.h"
#include "dskthread.h"
#include "languagehelper.h"

#include <QApplication>
#include <QDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <thread>

class LangBridgeDeliveryTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        etlOverrideAppRootPath(qEnvironmentVariable("TARN_LANG_TEST_ROOT").toStdString());
        QEBridge::instance().initBridge();
    }

    void cleanupTestCase() { QEBridge::instance().releaseBridge(); }

    void broadcastFromAnotherThreadIsHandledOnTheGuiThread()
    {
        QWidget window;
        auto *label = new cvLabel("Show", &window);
        // Start in English whatever an earlier run left behind.
        QFile::remove(QString::fromStdString(etlGetAppDataRootPath() + "/Config/UserData.ini"));
        qunsetenv("LC_ALL");
        qunsetenv("LC_MESSAGES");
        qputenv("LANG", "C");
        TranslaterHandler handler(reinterpret_cast<TarnApplication *>(qApp));
        handler.initLanguage();
        QCOMPARE(lang_Current(), std::string("English"));

        QDir().mkpath(QString::fromStdString(etlGetAppDataRootPath() + "/Config"));
        QVERIFY(etlSetProfileString(etlGetAppDataRootPath() + "/Config/UserData.ini", "Language",
                                    "strWebLanguage", "German"));

        QThread *guiThread = QThread::currentThread();
        std::atomic<int> calls{0};
        std::atomic<bool> onGuiThread{true};
        connect(&handler, &TranslaterHandler::LangConfigChanged, &handler, [&]() {
            ++calls;
            onGuiThread = onGuiThread && QThread::currentThread() == guiThread;
        });

        std::atomic<int> reached{-1};
        std::thread sender([&reached]() { reached = msgBroadcastToGroup("MessageGroupLang", 703); });
        sender.join();
        QVERIFY(reached >= 1);

        QTRY_COMPARE_WITH_TIMEOUT(calls.load(), 1, 5000);
        QVERIFY(onGuiThread);
        QCOMPARE(lang_Current(), std::string("German"));
        QCOMPARE(label->text(), QStringLiteral("Anzeigen"));

        // Nothing further arrives for the one broadcast.
        QTest::qWait(200);
        QCOMPARE(calls.load(), 1);
    }
};

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    LangBridgeDeliveryTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "LangBridgeDeliveryTest.moc"
