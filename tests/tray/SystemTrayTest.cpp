#include "SystemTray.h"

#include "ETLLib.h"
#include "MacDockAdapterHelper.h"
#include "TestIcon.h"
#include "TranslaterHandler.h"
#include "dskregistry.h"
#include "languagehelper.h"
#include "msgObject.h"
#include "uCTraceHelper.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMetaMethod>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString translatedIn(const std::string &language, const QString &english)
{
    const std::string previous = lang_Current();
    lang_SwitchTo(language);
    const QString text = lang_Translate(lang_toLangText(english));
    lang_SwitchTo(previous);
    return text;
}

int countLogLines(const QByteArray &needle)
{
    QFile log(QString::fromStdString(etlGetAppDocPath() + "/log/tarn-desktop.log"));
    if (!log.open(QIODevice::ReadOnly)) {
        return 0;
    }
    return log.readAll().count(needle);
}

QStringList menuTexts(const QMenu *menu)
{
    QStringList texts;
    for (const QAction *action : menu->actions()) {
        texts << action->text();
    }
    return texts;
}

} // namespace

class SystemTrayTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_docDir;
    QString m_root;

private slots:
    void initTestCase()
    {
        QVERIFY(m_docDir.isValid());
        m_root = qEnvironmentVariable("TARN_LANG_TEST_ROOT");
        QVERIFY(!ensureTestIcon(m_root).isEmpty());
        etlOverrideAppRootPath(m_root.toStdString());
        etlSetAppDocPath(m_docDir.path().toStdString());
        uCTraceHelper::getInstance().ResetTraceLevel(7);
        uCTraceHelper::getInstance().RedirectToShareMemory();
        QCOMPARE(translatedIn("German", "Show"), QStringLiteral("Anzeigen"));
    }

    void init() { lang_SwitchTo("English"); }

    // --- meta-object -------------------------------------------------------------------------

    void metaObjectListsSignalsThenSlots()
    {
        const QMetaObject &mo = SystemTray::staticMetaObject;
        QCOMPARE(QByteArray(mo.className()), QByteArray("SystemTray"));
        QCOMPARE(mo.superClass(), &QSystemTrayIcon::staticMetaObject);
        QCOMPARE(mo.methodCount() - mo.methodOffset(), 7);

        const struct
        {
            const char *signature;
            QMetaMethod::MethodType type;
        } expected[] = {
            {"showMainWindowSignal()", QMetaMethod::Signal},
            {"restoreMainWindowSignal()", QMetaMethod::Signal},
            {"sigQuitAppAction()", QMetaMethod::Signal},
            {"slotQuitApp()", QMetaMethod::Slot},
            {"slotShowMainWindow()", QMetaMethod::Slot},
            {"slotLangConfigChanged()", QMetaMethod::Slot},
            {"slotActivated(QSystemTrayIcon::ActivationReason)", QMetaMethod::Slot},
        };
        for (int i = 0; i < 7; ++i) {
            const QMetaMethod method = mo.method(mo.methodOffset() + i);
            QCOMPARE(method.methodSignature(), QByteArray(expected[i].signature));
            QCOMPARE(method.methodType(), expected[i].type);
            QCOMPARE(method.access(), QMetaMethod::Public);
        }
        const QMetaMethod activated = mo.method(mo.methodOffset() + 6);
        QCOMPARE(activated.parameterNames(), QList<QByteArray>{"reason"});

        SystemTray tray;
        QScopedPointer<QMenu> menuOwner(tray.menu());
        QCOMPARE(tray.qt_metacast("SystemTray"), static_cast<void *>(&tray));
        QCOMPARE(tray.qt_metacast("QSystemTrayIcon"), static_cast<void *>(&tray));
        QCOMPARE(tray.qt_metacast(nullptr), nullptr);
        QCOMPARE(tray.qt_metacast("QWidget"), nullptr);
    }

    void dockHelperHasOnlyItsSignal()
    {
        const QMetaObject &mo = MacDockAdapterHelper::staticMetaObject;
        QCOMPARE(QByteArray(mo.className()), QByteArray("MacDockAdapterHelper"));
        QCOMPARE(mo.methodCount() - mo.methodOffset(), 1);
        QCOMPARE(mo.method(mo.methodOffset()).methodSignature(), QByteArray("dockClickedSignal()"));
        QCOMPARE(mo.method(mo.methodOffset()).methodType(), QMetaMethod::Signal);
    }

    // --- construction ------------------------------------------------------------------------

    void constructionBuildsMenuIconAndToolTip()
    {
        SystemTray tray;
        QMenu *menu = tray.menu();
        QVERIFY(menu != nullptr);
        QScopedPointer<QMenu> menuOwner(menu);
        QCOMPARE(menu->objectName(), QStringLiteral("SystemMenu"));
        QCOMPARE(menu->parent(), nullptr);
        QCOMPARE(tray.contextMenu(), menu);
        QCOMPARE(menuTexts(menu), (QStringList{"Show", "Quit"}));
        QCOMPARE(menu->actions().at(0), tray.showAction());
        QCOMPARE(menu->actions().at(1), tray.quitAction());
        QCOMPARE(tray.showAction()->parent(), &tray);
        QCOMPARE(tray.quitAction()->parent(), &tray);
        QCOMPARE(tray.toolTip(), QStringLiteral("Corvane Connect"));
        QVERIFY(!tray.isVisible());

        QVERIFY(!tray.icon().isNull());
        QVERIFY(!tray.icon().availableSizes().isEmpty());
    }

    void constructedInGermanShowsGermanTexts()
    {
        lang_SwitchTo("German");
        SystemTray tray;
        QScopedPointer<QMenu> menuOwner(tray.menu());
        QCOMPARE(menuTexts(tray.menu()),
                 (QStringList{translatedIn("German", "Show"), translatedIn("German", "Quit")}));
        QCOMPARE(tray.toolTip(), translatedIn("German", "Corvane Connect"));
    }

    void missingIconLeavesAnEmptyImage()
    {
        QTemporaryDir emptyRoot;
        etlOverrideAppRootPath(emptyRoot.path().toStdString());
        SystemTray tray;
        QScopedPointer<QMenu> menuOwner(tray.menu());
        etlOverrideAppRootPath(m_root.toStdString());
        QVERIFY(tray.icon().availableSizes().isEmpty());
        QCOMPARE(menuTexts(tray.menu()).size(), 2);
    }

    void menuOutlivesTheTray()
    {
        QPointer<QMenu> menu;
        {
            SystemTray tray;
            menu = tray.menu();
        }
        QVERIFY(!menu.isNull());
        QCOMPARE(menu->actions().size(), 0);
        delete menu.data();
    }

    // --- menu entries and activation ---------------------------------------------------------

    void menuEntriesEmitTheirSignalsOnly()
    {
        SystemTray tray;
        QScopedPointer<QMenu> menuOwner(tray.menu());
        QSignalSpy show(&tray, SIGNAL(showMainWindowSignal()));
        QSignalSpy quit(&tray, SIGNAL(sigQuitAppAction()));
        QSignalSpy restore(&tray, SIGNAL(restoreMainWindowSignal()));
        QSignalSpy aboutToQuit(qApp, SIGNAL(aboutToQuit()));
        const int traces = countLogLines("SystemTray Trigger");

        tray.showAction()->trigger();
        QCOMPARE(show.count(), 1);
        QCOMPARE(quit.count(), 0);

        tray.quitAction()->trigger();
        QCOMPARE(quit.count(), 1);
        QCOMPARE(show.count(), 1);
        QCOMPARE(restore.count(), 0);

        // With nothing connected to the quit request, nothing ends.
        QCoreApplication::processEvents();
        QCOMPARE(aboutToQuit.count(), 0);
        QCOMPARE(countLogLines("SystemTray Trigger"), traces);
    }

    void activationReasons_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<int>("shows");
        QTest::addColumn<bool>("menuOpens");
        QTest::addRow("Unknown") << int(QSystemTrayIcon::Unknown) << 0 << false;
        QTest::addRow("Context") << int(QSystemTrayIcon::Context) << 0 << true;
        QTest::addRow("DoubleClick") << int(QSystemTrayIcon::DoubleClick) << 0 << false;
        QTest::addRow("Trigger") << int(QSystemTrayIcon::Trigger) << 1 << false;
        QTest::addRow("MiddleClick") << int(QSystemTrayIcon::MiddleClick) << 0 << false;
    }

    void activationReasons()
    {
        QFETCH(int, reason);
        QFETCH(int, shows);
        QFETCH(bool, menuOpens);
        SystemTray tray;
        QScopedPointer<QMenu> menuOwner(tray.menu());
        QSignalSpy show(&tray, SIGNAL(showMainWindowSignal()));
        QSignalSpy quit(&tray, SIGNAL(sigQuitAppAction()));
        const int traces = countLogLines("D:SystemTray SystemTray Trigger");

        const QPoint cursor(120, 90);
        QCursor::setPos(cursor);
        // Through the icon's own signal, as the platform reports a click.
        emit tray.activated(QSystemTrayIcon::ActivationReason(reason));

        QCOMPARE(countLogLines("D:SystemTray SystemTray Trigger"), traces + 1);
        QCOMPARE(show.count(), shows);
        QCOMPARE(quit.count(), 0);
        QCOMPARE(tray.menu()->isVisible(), menuOpens);
        if (menuOpens) {
            QCOMPARE(tray.menu()->pos(), cursor);
            tray.menu()->hide();
        }
    }

    void restoreSignalHasNoEffect()
    {
        SystemTray tray;
        QScopedPointer<QMenu> menuOwner(tray.menu());
        QSignalSpy show(&tray, SIGNAL(showMainWindowSignal()));
        QSignalSpy quit(&tray, SIGNAL(sigQuitAppAction()));
        const int traces = countLogLines("SystemTray Trigger");
        QVERIFY(!QObject::disconnect(&tray, SIGNAL(restoreMainWindowSignal()), nullptr, nullptr));
        QVERIFY(QMetaObject::invokeMethod(&tray, "restoreMainWindowSignal"));
        QCOMPARE(show.count(), 0);
        QCOMPARE(quit.count(), 0);
        QVERIFY(!tray.menu()->isVisible());
        QVERIFY(!tray.isVisible());
        QCOMPARE(countLogLines("SystemTray Trigger"), traces);
    }

    // --- language ----------------------------------------------------------------------------

    void languageChangeRetranslatesMenuButNotToolTip()
    {
        SystemTray tray;
        QScopedPointer<QMenu> menuOwner(tray.menu());
        lang_SwitchTo("German");
        QVERIFY(QMetaObject::invokeMethod(&tray, "slotLangConfigChanged"));
        const QStringList german{translatedIn("German", "Show"), translatedIn("German", "Quit")};
        QVERIFY(german.at(0) != QLatin1String("Show"));
        QCOMPARE(menuTexts(tray.menu()), german);
        QCOMPARE(tray.toolTip(), QStringLiteral("Corvane Connect"));
    }

    // The controller's wiring: the handler's announcement reaches the tray by signature strings.
    void handlerAnnouncementReachesTheTray()
    {
        SystemTray tray;
        QScopedPointer<QMenu> menuOwner(tray.menu());
        TranslaterHandler handler(nullptr);
        QVERIFY(
            QObject::connect(&handler, SIGNAL(LangConfigChanged()), &tray, SLOT(slotLangConfigChanged())));

        QDir().mkpath(QString::fromStdString(etlGetAppDataRootPath() + "/Config"));
        const std::string profile = etlGetAppDataRootPath() + "/Config/UserData.ini";
        QVERIFY(etlSetProfileString(profile, "Language", "strWebLanguage", "German"));
        msgObject msg(703);
        QCOMPARE(handler.onLangMessage(msg), 1);
        QCOMPARE(menuTexts(tray.menu()),
                 (QStringList{translatedIn("German", "Show"), translatedIn("German", "Quit")}));
        QCOMPARE(tray.toolTip(), QStringLiteral("Corvane Connect"));

        QVERIFY(etlSetProfileString(profile, "Language", "strWebLanguage", "English"));
        QCOMPARE(handler.onLangMessage(msg), 1);
        QCOMPARE(menuTexts(tray.menu()), (QStringList{"Show", "Quit"}));
        QFile::remove(QString::fromStdString(profile));
    }
};

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    SystemTrayTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SystemTrayTest.moc"
