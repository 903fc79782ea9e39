#include "MainWindow.h"

#include "CMessageBoxDelegate.h"
#include "ETLLib.h"
#include "WaylandActivation.h"
#include "cvAccessibleText.h"
#include "cvActionText.h"
#include "cvLabel.h"
#include "cvPushButton.h"
#include "cvTr.h"
#include "cvWidget.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMap>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {
const char kProductName[] = CV_TR_NOOP("Corvane Connect");
const char kFileMenu[] = CV_TR_NOOP("File");
const char kHelpMenu[] = CV_TR_NOOP("Help");
} // namespace

struct MainWindow::Private
{
    QStackedWidget *stack = nullptr;
    QPointer<QWidget> placeholder;
    cvWidget *menuTranslator = nullptr;
    QLabel *logo = nullptr;
    QMap<QString, QMenu *> menus;
    CMessageBoxDelegate *msgBox = nullptr;
    void (*showDefault)() = nullptr;
    void (*showSetting)(int, int) = nullptr;
    void (*showAbout)(int, int) = nullptr;

    // The header's buttons, and the page each one last led to: the button of the page on show
    // is marked, and only that one. Pages of the three sections name their section in the
    // "mainNavSection" property, so a page opened by any road marks its button.
    enum Nav
    {
        NavDevices,
        NavSettings,
        NavAbout,
        NavCount
    };
    cvPushButton *nav[NavCount] = {};
    QPointer<QWidget> navPage[NavCount];
    bool marking = false;
    bool pressedMarked = false;

    int navOf(QWidget *page) const
    {
        if (!page)
            return -1;
        static const char *const sections[NavCount] = {"Devices", "Settings", "About"};
        const QString section = page->property("mainNavSection").toString();
        for (int i = 0; i < NavCount; ++i) {
            if (navPage[i] == page || section == QLatin1String(sections[i]))
                return i;
        }
        return -1;
    }

    void markNav()
    {
        const int which = navOf(stack->currentWidget());
        marking = true;
        for (int i = 0; i < NavCount; ++i)
            nav[i]->setChecked(i == which);
        marking = false;
    }
};

MainWindow::MainWindow(QWidget *parent, const int &flags, const QString &name)
    : QMainWindow(parent), d(new Private)
{
    Q_UNUSED(flags);
    setObjectName(name);
    setWindowTitle(QString::fromLatin1(kProductName));
    resize(960, 640);
    setMinimumSize(720, 480);

    QWidget *central = new QWidget(this);
    central->setObjectName(QStringLiteral("CentralWidget"));
    QVBoxLayout *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    QFrame *header = new QFrame(central);
    header->setObjectName(QStringLiteral("HeaderBar"));
    QHBoxLayout *headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(20, 12, 20, 12);
    headerLayout->setSpacing(10);
    d->logo = new QLabel(header);
    d->logo->setObjectName(QStringLiteral("HeaderLogo"));
    d->logo->setFixedSize(32, 32);
    d->logo->setScaledContents(true);
    cvSetAccessibleSource(d->logo, CV_TR("Corvane Connect logo"));
    headerLayout->addWidget(d->logo);
    cvLabel *title = new cvLabel(QString::fromLatin1(kProductName), header);
    title->setObjectName(QStringLiteral("HeaderTitle"));
    headerLayout->addWidget(title);
    headerLayout->addStretch(1);
    QWidget *navigation = new QWidget(header);
    navigation->setObjectName(QStringLiteral("Navigation"));
    cvSetAccessibleSource(navigation, CV_TR("Navigation"));
    QHBoxLayout *navLayout = new QHBoxLayout(navigation);
    navLayout->setContentsMargins(0, 0, 0, 0);
    navLayout->setSpacing(10);
    headerLayout->addWidget(navigation);
    const char *const navSources[Private::NavCount] = {CV_TR_NOOP("Devices"), CV_TR_NOOP("Settings"),
                                                       CV_TR_NOOP("About")};
    const char *const navNames[Private::NavCount] = {"NavDevices", "NavSettings", "NavAbout"};
    for (int i = 0; i < Private::NavCount; ++i) {
        cvPushButton *button = new cvPushButton(QString::fromLatin1(navSources[i]), navigation);
        button->setObjectName(QString::fromLatin1(navNames[i]));
        button->setProperty("navButton", true);
        button->setCheckable(true);
        // Reached with Tab; Space and Enter switch like a click.
        button->setFocusPolicy(Qt::StrongFocus);
        button->setAutoDefault(true);
        button->setCursor(Qt::PointingHandCursor);
        navLayout->addWidget(button);
        d->nav[i] = button;
        // Whatever checks a button (a click, a key, an assistive tool's toggle) opens its page; the
        // page on show then decides the marks, so unchecking the marked button only puts its mark
        // back. A click on the button already marked opens its section afresh. (No QButtonGroup:
        // within one, Tab does not move between checkable buttons.)
        connect(button, &QAbstractButton::toggled, this, [this, i](bool checked) {
            if (d->marking)
                return;
            if (checked)
                openNav(i);
            else
                d->markNav();
        });
        connect(button, &QAbstractButton::pressed, this,
                [this, i] { d->pressedMarked = d->nav[i]->isChecked(); });
        connect(button, &QAbstractButton::clicked, this, [this, i] {
            if (d->pressedMarked)
                openNav(i);
            d->pressedMarked = false;
        });
    }
    layout->addWidget(header);

    d->stack = new QStackedWidget(central);
    d->stack->setObjectName(QStringLiteral("ContentStack"));
    layout->addWidget(d->stack, 1);
    connect(d->stack, &QStackedWidget::currentChanged, this, [this] { d->markNav(); });
    setCentralWidget(central);

    d->menuTranslator = new cvWidget(this);
    d->menuTranslator->setObjectName(QStringLiteral("MenuTranslator"));
    d->menuTranslator->hide();
    connect(d->menuTranslator, &cvWidget::langConfigChanged, this, &MainWindow::retranslateMenus);

    QMenu *file = menuFor(QString::fromLatin1(kFileMenu));
    connect(cvAddSourceAction(file, CV_TR("Devices")), &QAction::triggered, this,
            [this] { openNav(Private::NavDevices); });
    connect(cvAddSourceAction(file, CV_TR("Settings")), &QAction::triggered, this,
            [this] { openNav(Private::NavSettings); });
    file->addSeparator();
    QAction *quit = cvAddSourceAction(file, CV_TR("Quit"));
    quit->setProperty("cvRandomSafe", false);
    cvMarkKeepLast(quit);
    connect(quit, &QAction::triggered, this, &MainWindow::slotDealBeforeMenuCloseAction);

    QMenu *help = menuFor(QString::fromLatin1(kHelpMenu));
    QAction *about = cvAddSourceAction(help, CV_TR("About"));
    help->insertSeparator(about);
    cvMarkKeepLast(about);
    connect(about, &QAction::triggered, this, [this] { openNav(Private::NavAbout); });
}

MainWindow::~MainWindow() = default;

void MainWindow::InitMACWidgetAtturibute()
{
    // Closing hides the window; only the tray's quit ends the program.
    setAttribute(Qt::WA_QuitOnClose, false);
    setUnifiedTitleAndToolBarOnMac(true);
    const QIcon icon = QApplication::windowIcon();
    if (!icon.isNull()) {
        setWindowIcon(icon);
        d->logo->setPixmap(icon.pixmap(64, 64));
    }
}

void MainWindow::SetMsgBoxDelegate(CMessageBoxDelegate *delegate)
{
    d->msgBox = delegate;
}

void MainWindow::SetOnShowDefaultContentFun(void (*fun)())
{
    d->showDefault = fun;
}

void MainWindow::SetShowSettingFun(void (*fun)(int, int))
{
    d->showSetting = fun;
}

void MainWindow::SetShowAboutSettingFun(void (*fun)(int, int))
{
    d->showAbout = fun;
}

void MainWindow::openNav(int which)
{
    if (which == Private::NavDevices) {
        ShowDefaultContent();
        return;
    }
    void (*fun)(int, int) = which == Private::NavSettings ? d->showSetting : d->showAbout;
    if (!fun) {
        // A click toggled the button: put the marks back as they were.
        d->markNav();
        return;
    }
    QWidget *before = d->stack->currentWidget();
    fun(0, 0);
    // A page that came up for this button belongs to it from now on.
    if (d->stack->currentWidget() != before)
        d->navPage[which] = d->stack->currentWidget();
    d->markNav();
}

void MainWindow::ShowDefaultContent()
{
    if (d->showDefault) {
        d->showDefault();
        d->navPage[Private::NavDevices] = d->stack->currentWidget();
        d->markNav();
        return;
    }
    if (!d->placeholder) {
        cvLabel *label = new cvLabel(CV_TR("Welcome to Corvane Connect"));
        label->setObjectName(QStringLiteral("PlaceholderPage"));
        label->setAlignment(Qt::AlignCenter);
        d->placeholder = label;
    }
    d->navPage[Private::NavDevices] = d->placeholder;
    showPage(d->placeholder);
}

void MainWindow::ShowWindowNormal()
{
    const bool wasShown = isVisible();
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    showNormal();
    raise();
    // Qt's Wayland plugin cannot activate a window; the compositor is asked through xdg_activation_v1.
    if (WaylandActivation::isWayland())
        WaylandActivation::activate(windowHandle(), wasShown);
    else
        activateWindow();
}

QMenu *MainWindow::menuFor(const QString &englishTitle)
{
    auto it = d->menus.constFind(englishTitle);
    if (it != d->menus.constEnd())
        return it.value();

    QMenu *menu = new QMenu(menuBar());
    cvSetSourceTitle(menu, englishTitle);
    // Help stays the last menu of the bar.
    QMenu *help = d->menus.value(QString::fromLatin1(kHelpMenu));
    if (help)
        menuBar()->insertMenu(help->menuAction(), menu);
    else
        menuBar()->addMenu(menu);
    d->menus.insert(englishTitle, menu);
    return menu;
}

void MainWindow::showPage(QWidget *page)
{
    if (!page)
        return;
    if (d->stack->indexOf(page) < 0)
        d->stack->addWidget(page);
    d->stack->setCurrentWidget(page);
    d->markNav();
}

QWidget *MainWindow::pageArea()
{
    return d->stack;
}

QWidget *MainWindow::windowWidget()
{
    return this;
}

CMessageBoxDelegate *MainWindow::msgBoxDelegate() const
{
    return d->msgBox;
}

QWidget *MainWindow::currentPage() const
{
    return d->stack->currentWidget();
}

void MainWindow::retranslateMenus()
{
    cvRetranslateMenuBar(menuBar());
    cvRetranslateAccessibleNames(this);
}

void MainWindow::slotDealBeforeMenuCloseAction()
{
    etlModuleTrace(5, "N:MainWindow", "quit from the menu");
    hide();
    QCoreApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
    hide();
}
