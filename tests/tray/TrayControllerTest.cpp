// The controller's tray creation and wiring, with the real controller, main window and handler.

#include "ETLLib.h"
#include "MainWindow.h"
#include "SystemTray.h"
#include "TarnDesktopApp.h"
#include "TestIcon.h"
#include "TranslaterHandler.h"
#include "dskregistry.h"
#include "languagehelper.h"
#include "msgObject.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QSignalSpy>
#include <QtTest>

class TarnDesktopAppTest : public QObject
{
    Q_OBJECT
public:
    explicit TarnDesktopAppTest(TarnDesktopApp *controller) : c(controller) {}

private:
    TarnDesktopApp *c;

    static void setProfileLanguage(const char *language)
    {
        QDir().mkpath(QString::fromStdString(etlGetAppDataRootPath() + "/Config"));
        QVERIFY(etlSetProfileString(etlGetAppDataRootPath() + "/Config/UserData.ini", "Language",
                                    "strWebLanguage", language));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(!ensureTestIcon(qEnvironmentVariable("TARN_LANG_TEST_ROOT")).isEmpty());
        etlOverrideAppRootPath(qEnvironmentVariable("TARN_LANG_TEST_ROOT").toStdString());
        lang_Init("English");
    }

    void withoutMainWindowNothingIsCreated()
    {
        QVERIFY(c->mainWindow == nullptr);
        c->translaterHandler = new TranslaterHandler(&c->application);
        c->createSystemTray();
        QVERIFY(c->systemTray.isNull());
        // Not even the language connection: there is nothing to disconnect.
        QVERIFY(!QObject::disconnect(c->translaterHandler, SIGNAL(LangConfigChanged()), nullptr, nullptr));
    }

    void trayIsCreatedWiredAndShown()
    {
        c->mainWindow = new MainWindow(nullptr, -1, "MainWindow");
        c->createSystemTray();
        QVERIFY(!c->systemTray.isNull());
        SystemTray *tray = c->systemTray.data();
        QVERIFY(tray->isVisible());
        QCOMPARE(tray->parent(), nullptr);

        c->mainWindow->hide();
        tray->showAction()->trigger();
        QVERIFY(c->mainWindow->isVisible());

        c->mainWindow->hide();
        emit tray->activated(QSystemTrayIcon::Trigger);
        QVERIFY(c->mainWindow->isVisible());

        c->mainWindow->hide();
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(!c->mainWindow->isVisible());

        setProfileLanguage("German");
        msgObject msg(703);
        QCOMPARE(c->translaterHandler->onLangMessage(msg), 1);
        QCOMPARE(tray->showAction()->text(), lang_Translate(lang_toLangText("Show")));
        QVERIFY(tray->showAction()->text() != QLatin1String("Show"));
        QCOMPARE(tray->toolTip(), QStringLiteral("Corvane Connect"));
    }

    void quitRequestReachesTheMainWindow()
    {
        SystemTray *tray = c->systemTray.data();
        QVERIFY(tray != nullptr);
        QVERIFY(QObject::disconnect(tray, SIGNAL(sigQuitAppAction()), c->mainWindow,
                                    SLOT(slotDealBeforeMenuCloseAction())));
        QVERIFY(QObject::connect(tray, SIGNAL(sigQuitAppAction()), c->mainWindow,
                                 SLOT(slotDealBeforeMenuCloseAction())));
    }

    void secondCallKeepsTheTray()
    {
        SystemTray *first = c->systemTray.data();
        first->setVisible(false);
        c->createSystemTray();
        QCOMPARE(c->systemTray.data(), first);
        QVERIFY(first->isVisible());
        QSignalSpy show(first, SIGNAL(showMainWindowSignal()));
        first->showAction()->trigger();
        QCOMPARE(show.count(), 1);
    }

    void destroyedTrayIsCreatedAgain()
    {
        SystemTray *first = c->systemTray.data();
        QMenu *menu = first->menu();
        delete first;
        delete menu;
        QVERIFY(c->systemTray.isNull());
        c->createSystemTray();
        QVERIFY(!c->systemTray.isNull());
        c->mainWindow->hide();
        c->systemTray->showAction()->trigger();
        QVERIFY(c->mainWindow->isVisible());
    }
};

int main(int argc, char **argv)
{
    TarnDesktopApp controller(argc, argv);
    TarnDesktopAppTest test(&controller);
    return QTest::qExec(&test, argc, argv);
}

#include "TrayControllerTest.moc"
