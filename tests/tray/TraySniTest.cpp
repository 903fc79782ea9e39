// The tray through a StatusNotifierWatcher on a private session bus, as on desktops whose panel
// speaks that protocol instead of XEmbed.

#include "ETLLib.h"
#include "PrivateDesktop.h"
#include "SystemTray.h"
#include "TestIcon.h"
#include "languagehelper.h"
#include "uCTraceHelper.h"

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

namespace {

QString watcherLog;

QByteArray watcherOutput()
{
    QFile file(watcherLog);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int countLogLines(const QByteArray &needle)
{
    QFile log(QString::fromStdString(etlGetAppDocPath() + "/log/tarn-desktop.log"));
    return log.open(QIODevice::ReadOnly) ? log.readAll().count(needle) : 0;
}

} // namespace

class TraySniTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_docDir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_docDir.isValid());
        QVERIFY(!ensureTestIcon(qEnvironmentVariable("TARN_LANG_TEST_ROOT")).isEmpty());
        etlOverrideAppRootPath(qEnvironmentVariable("TARN_LANG_TEST_ROOT").toStdString());
        etlSetAppDocPath(m_docDir.path().toStdString());
        uCTraceHelper::getInstance().ResetTraceLevel(7);
        uCTraceHelper::getInstance().RedirectToShareMemory();
        lang_Init("English");
    }

    void itemRegistersAndAnswersThePanel()
    {
        QVERIFY(QSystemTrayIcon::isSystemTrayAvailable());
        SystemTray tray;
        QScopedPointer<QMenu> menuOwner(tray.menu());
        QSignalSpy show(&tray, SIGNAL(showMainWindowSignal()));
        const int traces = countLogLines("D:SystemTray SystemTray Trigger");

        tray.setVisible(true);
        QTRY_VERIFY_WITH_TIMEOUT(watcherOutput().contains("registered "), 10000);
        std::fprintf(stderr, "watcher: %s\n", watcherOutput().constData());

        // The watcher clicks the item, then asks for its context menu.
        QTRY_COMPARE_WITH_TIMEOUT(show.count(), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(tray.menu()->isVisible(), 10000);
        QCOMPARE(countLogLines("D:SystemTray SystemTray Trigger"), traces + 2);
        QCOMPARE(show.count(), 1);
        tray.menu()->hide();
        tray.setVisible(false);
    }
};

int main(int argc, char **argv)
{
    PrivateDesktop desktop;
    QTemporaryDir logDir;
    if (!logDir.isValid() || !desktop.startSessionBus() || !desktop.startDisplay()) {
        std::fprintf(stderr, "cannot start the private desktop: %s\n", qPrintable(desktop.lastError()));
        return 1;
    }
    watcherLog = logDir.filePath("watcher.log");
    if (desktop.spawn(TARN_SNI_WATCHER, {}, watcherLog) <= 0) {
        std::fprintf(stderr, "cannot start the watcher\n");
        return 1;
    }
    for (int i = 0; i < 100 && !watcherOutput().contains("ready"); ++i) {
        QTest::qSleep(100);
    }
    if (!watcherOutput().contains("ready")) {
        std::fprintf(stderr, "the watcher did not come up\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    int result = 0;
    {
        QApplication application(argc, argv);
        TraySniTest test;
        result = QTest::qExec(&test, argc, argv);
    }
    return result;
}

#include "TraySniTest.moc"
