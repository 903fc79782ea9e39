// The tray on a real X display with an XEmbed tray host.

#include "ETLLib.h"
#include "SessionBus.h"
#include "SystemTray.h"
#include "TestIcon.h"
#include "XDesktop.h"
#include "languagehelper.h"
#include "uCTraceHelper.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

namespace {

QByteArray run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return QByteArray();
    }
    return process.readAllStandardOutput();
}

// --sync returns once the pointer is there, so the press lands where it is meant to.
// --sync returns once the pointer is there, so the press lands where it is meant to.
void clickAt(const QPoint &point, int button)
{
    run("xdotool", {"mousemove", "--sync", QString::number(point.x()), QString::number(point.y())});
    run("xdotool", {"click", QString::number(button)});
}

bool isViewable(const QWidget *widget)
{
    return run("xwininfo", {"-id", QStringLiteral("0x%1").arg(widget->winId(), 0, 16)})
        .contains("IsViewable");
}

int countLogLines(const QByteArray &needle)
{
    QFile log(QString::fromStdString(etlGetAppDocPath() + "/log/tarn-desktop.log"));
    return log.open(QIODevice::ReadOnly) ? log.readAll().count(needle) : 0;
}

// Where the icon really is on screen: the X server's view, after the host has placed it.
QPoint iconCentre(QWidget *icon)
{
    const QString info =
        QString::fromLocal8Bit(run("xwininfo", {"-id", QStringLiteral("0x%1").arg(icon->winId(), 0, 16)}));
    const int x = QRegularExpression("Absolute upper-left X:\\s+(-?\\d+)").match(info).captured(1).toInt();
    const int y = QRegularExpression("Absolute upper-left Y:\\s+(-?\\d+)").match(info).captured(1).toInt();
    return QPoint(x, y) + QPoint(icon->width() / 2, icon->height() / 2);
}

QWidget *embeddedIconWindow()
{
    for (QWidget *widget : QApplication::allWidgets()) {
        if (widget->objectName() == QLatin1String("QSystemTrayIconSys")) {
            return widget;
        }
    }
    return nullptr;
}

} // namespace

class TrayXEmbedTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_docDir;
    SystemTray *m_tray = nullptr;

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
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);

        m_tray = new SystemTray;
        m_tray->setVisible(true);
    }

    void cleanupTestCase()
    {
        if (m_tray != nullptr) {
            QMenu *menu = m_tray->menu();
            delete m_tray;
            delete menu;
        }
    }

    void iconIsEmbeddedInTheTrayHost()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!m_tray->geometry().isEmpty(), 10000);
        QWidget *icon = embeddedIconWindow();
        QVERIFY(icon != nullptr);
        const QString id = QStringLiteral("0x%1").arg(icon->winId(), 0, 16);

        // The icon's X window must have been reparented away from the root into the host's window.
        QString parent;
        QString root;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&]() {
                const QString info = QString::fromLocal8Bit(run("xwininfo", {"-id", id, "-children"}));
                parent = QRegularExpression("Parent window id: (0x[0-9a-f]+)").match(info).captured(1);
                root = QRegularExpression("Root window id: (0x[0-9a-f]+)").match(info).captured(1);
                return !parent.isEmpty() && parent != root;
            }(),
            10000);
        const QByteArray tree = run("xwininfo", {"-root", "-tree"});
        QVERIFY(tree.contains(id.toLatin1()));
        // The host places and maps the icon after reparenting it; wait until it stays put.
        QPoint centre;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&]() {
                const QString info = QString::fromLocal8Bit(run("xwininfo", {"-id", id}));
                const QPoint now = iconCentre(icon);
                const bool settled = info.contains("IsViewable") && now == centre && now.x() > 0;
                centre = now;
                return settled;
            }(),
            10000);
        std::fprintf(stderr, "tray icon window %s in parent %s (root %s); icon centre on screen %d,%d\n",
                     qPrintable(id), qPrintable(parent), qPrintable(root), centre.x(), centre.y());
    }

    void leftClickAsksForTheMainWindow()
    {
        QSignalSpy show(m_tray, SIGNAL(showMainWindowSignal()));
        QSignalSpy quit(m_tray, SIGNAL(sigQuitAppAction()));
        const int traces = countLogLines("D:SystemTray SystemTray Trigger");
        clickAt(iconCentre(embeddedIconWindow()), 1);
        QTRY_COMPARE_WITH_TIMEOUT(show.count(), 1, 5000);
        QCOMPARE(quit.count(), 0);
        QCOMPARE(countLogLines("D:SystemTray SystemTray Trigger"), traces + 1);
        QVERIFY(!m_tray->menu()->isVisible());
    }

    void rightClickOpensTheMenuAndQuitAsks()
    {
        QSignalSpy quit(m_tray, SIGNAL(sigQuitAppAction()));
        QSignalSpy show(m_tray, SIGNAL(showMainWindowSignal()));
        clickAt(iconCentre(embeddedIconWindow()), 3);
        QTRY_VERIFY_WITH_TIMEOUT(m_tray->menu()->isVisible(), 5000);
        QCOMPARE(m_tray->menu()->actions().size(), 2);
        QCOMPARE(m_tray->menu()->actions().at(0)->text(), QStringLiteral("Show"));
        QCOMPARE(m_tray->menu()->actions().at(1)->text(), QStringLiteral("Quit"));
        QCOMPARE(show.count(), 0);

        // The menu takes clicks once the X server shows it.
        QTRY_VERIFY_WITH_TIMEOUT(isViewable(m_tray->menu()), 5000);
        const QRect quitRect = m_tray->menu()->actionGeometry(m_tray->quitAction());
        clickAt(m_tray->menu()->mapToGlobal(quitRect.center()), 1);
        QTRY_COMPARE_WITH_TIMEOUT(quit.count(), 1, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_tray->menu()->isVisible(), 5000);
        QCOMPARE(show.count(), 0);
    }

    void menuFollowsTheLanguage()
    {
        lang_SwitchTo("German");
        m_tray->slotLangConfigChanged();
        const QString german = lang_Translate(lang_toLangText("Show"));
        QVERIFY(german != QLatin1String("Show"));
        clickAt(iconCentre(embeddedIconWindow()), 3);
        QTRY_VERIFY_WITH_TIMEOUT(m_tray->menu()->isVisible(), 5000);
        QCOMPARE(m_tray->menu()->actions().at(0)->text(), german);
        QCOMPARE(m_tray->toolTip(), QStringLiteral("Corvane Connect"));
        m_tray->menu()->hide();
        lang_SwitchTo("English");
    }
};

int main(int argc, char **argv)
{
    XDesktop desktop(XDesktop::XEmbedTrayHost, QSize(1024, 768));
    if (!desktop.start()) {
        std::fprintf(stderr, "cannot start the private desktop: %s\n", qPrintable(desktop.error()));
        return 1;
    }
    qputenv("DISPLAY", desktop.display().toLatin1());
    qputenv("DBUS_SESSION_BUS_ADDRESS", SessionBus::disabledAddress().toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");
    int result = 0;
    {
        QApplication application(argc, argv);
        TrayXEmbedTest test;
        result = QTest::qExec(&test, argc, argv);
    }
    return result;
}

#include "TrayXEmbedTest.moc"
