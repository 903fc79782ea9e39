#include "CMessageBoxDelegate.h"
#include "ETLLib.h"
#include "MainWindow.h"
#include "cvActionText.h"
#include "cvLabel.h"
#include "cvPushButton.h"
#include "cvWidget.h"
#include "languagehelper.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>
#include <QtTest>

namespace {
int g_defaultCalls = 0;
QList<QPair<int, int>> g_settingCalls;
QList<QPair<int, int>> g_aboutCalls;

void onDefault()
{
    ++g_defaultCalls;
}

void onSetting(int page, int subPage)
{
    g_settingCalls.append({page, subPage});
}

void onAbout(int page, int subPage)
{
    g_aboutCalls.append({page, subPage});
}

MainWindow *g_window = nullptr;
QWidget *g_aboutPage = nullptr;

void showAboutPage(int, int)
{
    if (!g_aboutPage)
        g_aboutPage = new QWidget;
    g_window->showPage(g_aboutPage);
}

QStringList menuTitles(QMenuBar *bar)
{
    QStringList titles;
    for (QAction *action : bar->actions())
        titles << action->menu()->title();
    return titles;
}

QAction *findAction(QMenu *menu, const QString &source)
{
    for (QAction *action : menu->actions()) {
        if (cvSourceOf(action) == source)
            return action;
    }
    return nullptr;
}

// What the language switch does to a window: every cv widget re-translates itself.
void switchWindowLanguage(QWidget *window)
{
    for (cvWidget *w : window->findChildren<cvWidget *>())
        w->dealLangConfigChanged();
    for (cvLabel *w : window->findChildren<cvLabel *>())
        w->dealLangConfigChanged();
    for (cvPushButton *w : window->findChildren<cvPushButton *>())
        w->dealLangConfigChanged();
}

class RecordingMsgBox : public CMessageBoxDelegate
{
public:
    void information(const QString &, const QString &) override {}
    void warning(const QString &, const QString &) override {}
};
} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void isTopLevelWithItsName();
    void menuForCreatesOnce();
    void newMenusStayBeforeHelp();
    void closeHidesTheWindow();
    void quitEndsTheLoopWithZero();
    void showWindowNormalRestoresAndShows();
    void defaultContentCallsTheRegisteredFunction();
    void defaultContentWithoutFunctionShowsAPlaceholder();
    void settingsAndAboutEntriesCallTheirFunctions();
    void showPageTakesOwnershipAndReusesPages();
    void menusFollowTheLanguage();
    void keepsTheMessageBoxDelegate();
    void headerMarksTheButtonOfThePageOnShow();
    void navigationByKeyboardToggleAndSection();
};

void MainWindowTest::initTestCase()
{
    etlOverrideAppRootPath(qgetenv("TARN_TEST_ROOT").toStdString());
}

void MainWindowTest::init()
{
    g_defaultCalls = 0;
    g_settingCalls.clear();
    g_aboutCalls.clear();
}

void MainWindowTest::cleanup()
{
    lang_SwitchTo("English");
}

void MainWindowTest::isTopLevelWithItsName()
{
    MainWindow window(nullptr, -1, QStringLiteral("MainWindow"));
    window.InitMACWidgetAtturibute();
    QVERIFY(window.isWindow());
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window.windowWidget(), static_cast<QWidget *>(&window));
    QVERIFY(!window.testAttribute(Qt::WA_QuitOnClose));
    QVERIFY(window.width() >= 720 && window.height() >= 480);
}

void MainWindowTest::menuForCreatesOnce()
{
    MainWindow window(nullptr, -1, QStringLiteral("MainWindow"));
    const int before = window.menuBar()->actions().size();
    QMenu *settings = window.menuFor(QStringLiteral("Settings"));
    QVERIFY(settings);
    QCOMPARE(window.menuFor(QStringLiteral("Settings")), settings);
    QCOMPARE(window.menuBar()->actions().size(), before + 1);
    QCOMPARE(settings->title(), QStringLiteral("Settings"));
    // The window's own menus are found the same way.
    QMenu *file = window.menuFor(QStringLiteral("File"));
    QVERIFY(findAction(file, QStringLiteral("Quit")));
    QCOMPARE(window.menuBar()->actions().size(), before + 1);
}

void MainWindowTest::newMenusStayBeforeHelp()
{
    MainWindow window(nullptr, -1, QStringLiteral("MainWindow"));
    window.menuFor(QStringLiteral("Settings"));
    window.menuFor(QStringLiteral("Tools"));
    QCOMPARE(menuTitles(window.menuBar()), (QStringList{QStringLiteral("File"), QStringLiteral("Settings"),
                                                        QStringLiteral("Tools"), QStringLiteral("Help")}));
    // Entries added to Help later stay above About.
    QMenu *help = window.menuFor(QStringLiteral("Help"));
    QAction *feedback = cvAddSourceAction(help, QStringLiteral("Feedback"));
    QCOMPARE(help->actions().first(), feedback);
    QCOMPARE(cvSourceOf(help->actions().last()), QStringLiteral("About"));
}

void MainWindowTest::closeHidesTheWindow()
{
    MainWindow window(nullptr, -1, QStringLiteral("MainWindow"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!window.close());
    QVERIFY(!window.isVisible());
    // Hidden, not destroyed: it comes back.
    window.ShowWindowNormal();
    QVERIFY(window.isVisible());
}

void MainWindowTest::quitEndsTheLoopWithZero()
{
    MainWindow window(nullptr, -1, QStringLiteral("MainWindow"));
    window.show();
    QTimer::singleShot(0, &window, [&window] { window.slotDealBeforeMenuCloseAction(); });
    // A window that fails to quit ends the loop with 99 instead of hanging the test.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    watchdog.start(10000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!window.isVisible());

    // The menu entry reaches the same slot.
    QAction *quit = findAction(window.menuFor(QStringLiteral("File")), QStringLiteral("Quit"));
    QVERIFY(quit);
    window.show();
    QTimer::singleShot(0, quit, &QAction::trigger);
    watchdog.start(10000);
    QCOMPARE(QCoreApplication::exec(), 0);
}

void MainWindowTest::showWindowNormalRestoresAndShows()
{
    MainWindow window(nullptr, -1, QStringLiteral("MainWindow"));
    QVERIFY(!window.isVisible());
    window.ShowWindowNormal();
    QVERIFY(window.isVisible());
    QVERIFY(!window.isMinimized());
    window.showMinimized();
    QTRY_VERIFY(window.isMinimized());
    window.ShowWindowNormal();
    QVERIFY(window.isVisible());
    QVERIFY(!window.isMinimized());
    QVERIFY(!(window.windowState() & Qt::WindowMaximized));
}

void MainWindowTest::defaultContentCallsTheRegisteredFunction()
{
    MainWindow window(nullptr, -1, QStringLiteral("MainWindow"));
    window.SetOnShowDefaultContentFun(onDefault);
    window.ShowDefaultContent();
    QCOMPARE(g_defaultCalls, 1);
    QAction *devices = findAction(window.menuFor(QStringLiteral("File")), QStringLiteral("Devices"));
    QVERIFY(devices);
    devices->trigger();
    QCOMPARE(g_defaultCalls, 2);
    window.findChild<cvPushButton *>(QStringLiteral("NavDevices"))->click();
    QCOMPARE(g_defaultCalls, 3);
}

void MainWindowTest::defaultContentWithoutFunctionShowsAPlaceholder()
{
    MainWindow window(nullptr, -1, QStringLiteral("MainWindow"));
    QVERIFY(!window.currentPage());
    window.ShowDefaultContent();
    QWidget *page = window.currentPage();
    QVERIFY(page);
    QCOMPARE(page->objectName(), QStringLiteral("PlaceholderPage"));
    window.ShowDefaultContent();
    QCOMPARE(window.currentPage(), page);
}

void MainWindowTest::settingsAndAboutEntriesCallTheirFunctions()
{
    MainWindow window(nullptr, -1, QStringLiteral("MainWindow"));
    // Without functions the entries do nothing.
    findAction(window.menuFor(QStringLiteral("File")), QStringLiteral("Settings"))->trigger();
    findAction(window.menuFor(QStringLiteral("Help")), QStringLiteral("About"))->trigger();
    QVERIFY(g_settingCalls.isEmpty() && g_aboutCalls.isEmpty());

    window.SetShowSettingFun(onSetting);
    window.SetShowAboutSettingFun(onAbout);
    findAction(window.menuFor(QStringLiteral("File")), QStringLiteral("Settings"))->trigger();
    findAction(window.menuFor(QStringLiteral("Help")), QStringLiteral("About"))->trigger();
    window.findChild<cvPushButton *>(QStringLiteral("NavSettings"))->click();
    window.findChild<cvPushButton *>(QStringLiteral("NavAbout"))->click();
    QCOMPARE(g_settingCalls.size(), 2);
    QCOMPARE(g_aboutCalls.size(), 2);
    QCOMPARE(g_settingCalls.first(), qMakePair(0, 0));
    QCOMPARE(g_aboutCalls.first(), qMakePair(0, 0));
}

void MainWindowTest::showPageTakesOwnershipAndReusesPages()
{
    QPointer<QWidget> first = new QWidget;
    QPointer<QWidget> second = new QWidget;
    {
        MainWindow window(nullptr, -1, QStringLiteral("MainWindow"));
        window.showPage(first);
        QCOMPARE(window.currentPage(), first.data());
        QVERIFY(window.isAncestorOf(first));
        window.showPage(second);
        QCOMPARE(window.currentPage(), second.data());
        window.showPage(first);
        QCOMPARE(window.currentPage(), first.data());
        window.showPage(nullptr);
        QCOMPARE(window.currentPage(), first.data());
        // A page its module deletes leaves the window cleanly.
        delete second.data();
        QCOMPARE(window.currentPage(), first.data());
    }
    QVERIFY(!first);
}

void MainWindowTest::menusFollowTheLanguage()
{
    MainWindow window(nullptr, -1, QStringLiteral("MainWindow"));
    QMenu *settings = window.menuFor(QStringLiteral("Settings"));
    QAction *language = cvAddSourceAction(settings, QStringLiteral("Language settings"));
    QVERIFY(lang_SwitchTo("German"));
    switchWindowLanguage(&window);
    QCOMPARE(
        menuTitles(window.menuBar()),
        (QStringList{QStringLiteral("Datei"), QStringLiteral("Einstellungen"), QStringLiteral("Hilfe")}));
    QCOMPARE(language->text(), QStringLiteral("Spracheinstellungen"));
    QCOMPARE(findAction(window.menuFor(QStringLiteral("File")), QStringLiteral("Quit"))->text(),
             QStringLiteral("Beenden"));
    QCOMPARE(window.findChild<cvPushButton *>(QStringLiteral("NavDevices"))->text(),
             QStringLiteral("Geräte"));
    // Menus made after the switch start in the language in use.
    QCOMPARE(window.menuFor(QStringLiteral("Feedback"))->title(), QStringLiteral("Feedback"));
    QCOMPARE(window.menuFor(QStringLiteral("Devices"))->title(), QStringLiteral("Geräte"));
}

void MainWindowTest::keepsTheMessageBoxDelegate()
{
    MainWindow window(nullptr, -1, QStringLiteral("MainWindow"));
    QVERIFY(!window.msgBoxDelegate());
    RecordingMsgBox box;
    window.SetMsgBoxDelegate(&box);
    QCOMPARE(window.msgBoxDelegate(), static_cast<CMessageBoxDelegate *>(&box));
}

void MainWindowTest::headerMarksTheButtonOfThePageOnShow()
{
    MainWindow window(nullptr, -1, QStringLiteral("MainWindow"));
    g_window = &window;
    g_aboutPage = nullptr;
    cvPushButton *devices = window.findChild<cvPushButton *>(QStringLiteral("NavDevices"));
    cvPushButton *settings = window.findChild<cvPushButton *>(QStringLiteral("NavSettings"));
    cvPushButton *about = window.findChild<cvPushButton *>(QStringLiteral("NavAbout"));
    QVERIFY(devices && settings && about);
    window.ShowDefaultContent();
    QVERIFY(devices->isChecked() && !settings->isChecked() && !about->isChecked());

    // Settings without a function leads nowhere and marks nothing new.
    settings->click();
    QVERIFY(devices->isChecked() && !settings->isChecked());

    window.SetShowAboutSettingFun(showAboutPage);
    about->click();
    QCOMPARE(window.currentPage(), g_aboutPage);
    QVERIFY(!devices->isChecked() && about->isChecked());

    // The same page shown another way keeps its button marked; a page of no button marks none.
    window.ShowDefaultContent();
    window.showPage(g_aboutPage);
    QVERIFY(about->isChecked() && !devices->isChecked());
    window.showPage(new QWidget);
    QVERIFY(!about->isChecked() && !devices->isChecked() && !settings->isChecked());
    g_window = nullptr;
}

namespace {
QWidget *g_settingsPage = nullptr;

void showSettingsPage(int, int)
{
    g_window->showPage(g_settingsPage);
}

QStringList checkedButtons(MainWindow &window)
{
    QStringList names;
    for (const char *name : {"NavDevices", "NavSettings", "NavAbout"}) {
        if (window.findChild<cvPushButton *>(QString::fromLatin1(name))->isChecked())
            names << QString::fromLatin1(name);
    }
    return names;
}
} // namespace

void MainWindowTest::navigationByKeyboardToggleAndSection()
{
    MainWindow window(nullptr, -1, QStringLiteral("MainWindow"));
    g_window = &window;
    g_aboutPage = nullptr;
    g_settingsPage = new QWidget;
    g_settingsPage->setProperty("mainNavSection", QStringLiteral("Settings"));
    window.SetShowSettingFun(showSettingsPage);
    window.SetShowAboutSettingFun(showAboutPage);
    window.ShowDefaultContent();
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    cvPushButton *devices = window.findChild<cvPushButton *>(QStringLiteral("NavDevices"));
    cvPushButton *settings = window.findChild<cvPushButton *>(QStringLiteral("NavSettings"));
    cvPushButton *about = window.findChild<cvPushButton *>(QStringLiteral("NavAbout"));

    // Tab walks the buttons; Space and Enter switch.
    devices->setFocus();
    QTest::keyClick(devices, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), settings);
    QTest::keyClick(settings, Qt::Key_Space);
    QCOMPARE(window.currentPage(), g_settingsPage);
    QCOMPARE(checkedButtons(window), QStringList({"NavSettings"}));
    QTest::keyClick(settings, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), about);
    QTest::keyClick(about, Qt::Key_Return);
    QCOMPARE(window.currentPage(), g_aboutPage);
    QCOMPARE(checkedButtons(window), QStringList({"NavAbout"}));

    // What an assistive tool's toggle does: the page follows, one button stays marked.
    settings->toggle();
    QCOMPARE(window.currentPage(), g_settingsPage);
    QCOMPARE(checkedButtons(window), QStringList({"NavSettings"}));
    settings->toggle();
    QCOMPARE(checkedButtons(window), QStringList({"NavSettings"}));
    QCOMPARE(window.currentPage(), g_settingsPage);

    // A page of a section shown by another road (a menu entry) marks its button.
    window.ShowDefaultContent();
    QCOMPARE(checkedButtons(window), QStringList({"NavDevices"}));
    window.showPage(g_settingsPage);
    QCOMPARE(checkedButtons(window), QStringList({"NavSettings"}));
    g_window = nullptr;
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
