// The tray through a StatusNotifierWatcher on a private session bus, as on desktops whose panel
// speaks that protocol instead of XEmbed.

#include "ETLLib.h"
#include "SessionBus.h"
#include "SystemTray.h"
#include "TestIcon.h"
#include "TestProcess.h"
#include "Wait.h"
#include "XDesktop.h"
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
    SessionBus bus;
    XDesktop desktop(XDesktop::NoTrayHost, QSize(1024, 768));
    QTemporaryDir logDir;
    if (!logDir.isValid() || !bus.start() || !desktop.start()) {
        std::fprintf(stderr, "cannot start the private desktop: %s%s\n", qPrintable(bus.error()),
                     qPrintable(desktop.error()));
        return 1;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toLatin1());
    qputenv("DISPLAY", desktop.display().toLatin1());
    watcherLog = logDir.filePath("watcher.log");
    TestProcess watcher;
    watcher.setStandardOutputFile(watcherLog);
    watcher.start(QStringLiteral(TARN_SNI_WATCHER), QStringList());
    if (!watcher.waitForStarted(10000)) {
        std::fprintf(stderr, "cannot start the watcher\n");
        return 1;
    }
    if (!Wait::forText(watcherLog, "ready", 10000)) {
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
