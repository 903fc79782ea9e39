#include "MainWindow.h"

#include "CMessageBoxDelegate.h"
#include "ETLLib.h"
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
    // is marked.
    enum Nav
    {
        NavDevices,
        NavSettings,
        NavAbout,
        NavCount
    };
    cvPushButton *nav[NavCount] = {};
    QPointer<QWidget> navPage[NavCount];

    void markNav()
    {
        QWidget *current = stack->currentWidget();
        for (int i = 0; i < NavCount; ++i)
            nav[i]->setChecked(current && navPage[i] == current);
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
    headerLayout->addWidget(d->logo);
    cvLabel *title = new cvLabel(QString::fromLatin1(kProductName), header);
    title->setObjectName(QStringLiteral("HeaderTitle"));
    headerLayout->addWidget(title);
    headerLayout->addStretch(1);
    const char *const navSources[Private::NavCount] = {CV_TR_NOOP("Devices"), CV_TR_NOOP("Settings"),
                                                       CV_TR_NOOP("About")};
    const char *const navNames[Private::NavCount] = {"NavDevices", "NavSettings", "NavAbout"};
    for (int i = 0; i < Private::NavCount; ++i) {
        cvPushButton *button = new cvPushButton(QString::fromLatin1(navSources[i]), header);
        button->setObjectName(QString::fromLatin1(navNames[i]));
        button->setProperty("navButton", true);
        button->setCheckable(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setCursor(Qt::PointingHandCursor);
        headerLayout->addWidget(button);
        d->nav[i] = button;
        connect(button, &QPushButton::clicked, this, [this, i] { openNav(i); });
    }
    layout->addWidget(header);

    d->stack = new QStackedWidget(central);
    d->stack->setObjectName(QStringLiteral("ContentStack"));
    layout->addWidget(d->stack, 1);
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
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    showNormal();
    raise();
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
