#include "AtspiClient.h"
#include "WaylandDesktop.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// Of the 40x30 pixels right of and below the pointer, more than this many change when the menu is
// drawn there; the cursor alone changes fewer.
constexpr int kMenuPixels = 700;

} // namespace

// The program on a Wayland session as people run it: headless sway with waybar as the panel, a
// private session bus, real key presses through the compositor and a screen reader's view over
// AT-SPI. One session and one running instance serve the whole class, in the order of the slots.
class WaylandSessionTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void windowAndTrayIcon();
    void screenReaderSeesNamedControls();
    void assistiveToggleSwitchesPage();
    void menuMarksItsSection();
    void keyboardReachesNavigation();
    void f10ReloadsTheme();
    void secondStartTakesFocus();
    void secondStartAsksForAttentionWhereFocusIsRefused();
    void invalidTokenStillShowsWindow();
    void trayActivateShowsWindow();
    void pointerOnPanelIcon();
    void requestedMenuWithoutPointerOpensInTheMiddle();
    void requestedMenuOpensAtPointer();
    void requestedMenuClosesWithoutChoice();
    void languageSwitchReachesPanelMenu();
    void uninstallClosesInstance();
    void autorunStartsHidden();
    void panelMenuShowsAndQuits();
    void requestedMenuQuits();
    void panelGoingAwayLeavesProgramRunning();
    void requestedMenuOnScaledOutput();
    void compositorGoingAwayEndsProgramWithTrace();

private:
    QString program() const { return m_root + "/tarn-desktop"; }
    // A copy of the installation root the session's user can run, for a build in a folder it cannot
    // reach (a checkout below /root); empty when none could be made.
    QString reachableRootCopy();
    int logCount(const QString &text) const;
    bool waitFor(const std::function<bool()> &condition, int timeoutMs = 15000);
    // The checked navigation buttons, as a screen reader reads them.
    QStringList checkedNavigation(const QStringList &names);
    QByteArray panelMenuLayout();
    // Sends what a panel sends when an entry of the item's menu is clicked; the entries in order.
    bool clickPanelMenuEntry(int index);
    QString trayItem();
    void startInstance(const QStringList &arguments = {});
    // What a panel that cannot draw menus sends on a right click: ContextMenu(x, y) on the item.
    bool requestContextMenu(int x, int y);
    // A pointer that stays on the seat for the rest of the session, first at (x, y).
    void holdPointer(int x, int y);
    QImage screenshot();
    // Pixels in `area` that differ between two screenshots.
    static int changedPixels(const QImage &before, const QImage &after, const QRect &area);
    // Waits until a screenshot differs from `before` in `area` by more than `least` pixels (or, with
    // least < 0, equals it there).
    bool waitForScreen(const QImage &before, const QRect &area, int least, QImage *seen = nullptr);

    std::unique_ptr<WaylandDesktop> m_desktop;
    std::unique_ptr<AtspiClient> m_reader;
    QString m_root = qEnvironmentVariable("TARN_ROOT_DIR");
    QTemporaryDir m_rootCopy{QDir::tempPath() + "/tarn-root-XXXXXX"};
    pid_t m_instance = -1;
    pid_t m_pointer = -1;
    // Where the menu was drawn on the unscaled output, its top-left corner at the pointer.
    QRect m_unscaledMenu;
    int m_shots = 0;
};

int WaylandSessionTest::logCount(const QString &text) const
{
    QFile log(m_desktop->dataHome() + "/tarn-desktop/log/tarn-desktop.log");
    if (!log.open(QIODevice::ReadOnly))
        return 0;
    return QString::fromUtf8(log.readAll()).count(text);
}

bool WaylandSessionTest::waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(100);
    }
    return true;
}

QStringList WaylandSessionTest::checkedNavigation(const QStringList &names)
{
    QStringList checked;
    for (const QJsonObject &node : m_reader->tree()) {
        if (node.value("role").toString() == "check box" && names.contains(node.value("name").toString()) &&
            AtspiClient::hasState(node, "checked"))
            checked << node.value("name").toString();
    }
    return checked;
}

QString WaylandSessionTest::trayItem()
{
    QByteArray out;
    m_desktop->run("busctl",
                   {"--user", "get-property", "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                    "org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems"},
                   10000, &out);
    // as N "service/path" ...
    const QRegularExpressionMatch match = QRegularExpression("\"([^\"]+)\"").match(QString::fromUtf8(out));
    return match.hasMatch() ? match.captured(1) : QString();
}

QByteArray WaylandSessionTest::panelMenuLayout()
{
    const QString item = trayItem();
    const int slash = item.indexOf('/');
    if (slash <= 0)
        return QByteArray();
    const QString service = item.left(slash);
    const QString path = item.mid(slash);
    QByteArray menu;
    m_desktop->run("busctl", {"--user", "get-property", service, path, "org.kde.StatusNotifierItem", "Menu"},
                   10000, &menu);
    const QString menuPath = QString::fromUtf8(menu).section(' ', 1).trimmed().remove('"');
    QByteArray layout;
    m_desktop->run("busctl",
                   {"--user", "call", "--", service, menuPath, "com.canonical.dbusmenu", "GetLayout", "iias",
                    "0", "-1", "0"},
                   10000, &layout);
    return layout;
}

bool WaylandSessionTest::requestContextMenu(int x, int y)
{
    QString service;
    QString path = QStringLiteral("/StatusNotifierItem");
    const QString item = trayItem();
    const int slash = item.indexOf('/');
    if (slash > 0) {
        service = item.left(slash);
        path = item.mid(slash);
    } else {
        // No panel: the item is still on the bus under its own name.
        QByteArray names;
        m_desktop->run("busctl", {"--user", "list", "--no-legend"}, 10000, &names);
        service = QRegularExpression("org\\.kde\\.StatusNotifierItem-\\d+-\\d+")
                      .match(QString::fromUtf8(names))
                      .captured(0);
        if (service.isEmpty())
            return false;
    }
    return m_desktop->run("busctl",
                          {"--user", "call", service, path, "org.kde.StatusNotifierItem", "ContextMenu", "ii",
                           QString::number(x), QString::number(y)},
                          10000) == 0;
}

void WaylandSessionTest::holdPointer(int x, int y)
{
    if (m_pointer > 0) {
        QVERIFY(m_desktop->swaymsg({"seat", "-", "cursor", "set", QString::number(x), QString::number(y)}));
        QTest::qWait(300);
        return;
    }
    m_pointer = m_desktop->spawn("/usr/bin/python3",
                                 {QStringLiteral(TARN_TEST_SUPPORT_DIR "/virtual_pointer.py"),
                                  QString::number(x), QString::number(y), "hold"},
                                 {}, m_desktop->dataHome() + "/pointer.out");
    QVERIFY(m_pointer > 0);
    QTest::qWait(1000);
    QVERIFY(m_desktop->isRunning(m_pointer));
}

QImage WaylandSessionTest::screenshot()
{
    const QString file = m_desktop->dataHome() + QStringLiteral("/shot-%1.png").arg(++m_shots);
    if (m_desktop->run("grim", {file}, 20000) != 0)
        return QImage();
    QImage image(file);
    QFile::remove(file);
    return image.convertToFormat(QImage::Format_RGB32);
}

int WaylandSessionTest::changedPixels(const QImage &before, const QImage &after, const QRect &area)
{
    if (before.size() != after.size())
        return area.width() * area.height();
    const QRect inside = area & before.rect();
    int changed = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            if (before.pixel(x, y) != after.pixel(x, y))
                ++changed;
        }
    }
    return changed;
}

bool WaylandSessionTest::waitForScreen(const QImage &before, const QRect &area, int least, QImage *seen)
{
    QImage shot;
    const bool reached = waitFor([&] {
        shot = screenshot();
        if (shot.isNull())
            return false;
        const int changed = changedPixels(before, shot, area);
        return least < 0 ? changed == 0 : changed > least;
    });
    if (seen)
        *seen = shot;
    return reached;
}

void WaylandSessionTest::startInstance(const QStringList &arguments)
{
    m_instance = m_desktop->spawn(
        program(), arguments,
        {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1", "TARN_USB_SYSFS=" + m_desktop->dataHome() + "/usb"},
        m_desktop->dataHome() + "/program.out");
    QVERIFY(m_instance > 0);
}

QString WaylandSessionTest::reachableRootCopy()
{
    if (!m_rootCopy.isValid())
        return QString();
    QFile::setPermissions(m_rootCopy.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                 QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                 QFile::ExeOther);
    QProcess copy;
    copy.start("cp", {"-a", m_root + "/.", m_rootCopy.path()});
    if (!copy.waitForFinished(60000) || copy.exitStatus() != QProcess::NormalExit || copy.exitCode() != 0)
        return QString();
    return m_rootCopy.path();
}

void WaylandSessionTest::initTestCase()
{
    QString missing;
    if (!WaylandDesktop::toolsPresent(&missing))
        QSKIP(qPrintable("not installed: " + missing));
    if (QStandardPaths::findExecutable("busctl").isEmpty() || !QFile::exists("/usr/bin/python3"))
        QSKIP("busctl or python3 missing");
    m_desktop.reset(new WaylandDesktop);
    QVERIFY2(m_desktop->start(true), qPrintable(m_desktop->lastError()));
    if (!m_desktop->canExecute(program()))
        m_root = reachableRootCopy();
    if (m_root.isEmpty() || !m_desktop->canExecute(program()))
        QSKIP("the build is out of reach of the unprivileged user that runs the Wayland session");
    QVERIFY(m_desktop->writeHomeFile(".config/tarn-desktop/system.ini", "[Syslog]\nnLogLevel=7\n"));
    // No USB device, whatever the machine has: the page and its screenshots are the same everywhere.
    QVERIFY(m_desktop->writeHomeFile(".local/share/usb/README", "no devices here\n"));
    m_reader.reset(new AtspiClient(*m_desktop, "tarn-desktop"));
    startInstance();
    QVERIFY2(waitFor([this] { return !m_desktop->window("tarn-desktop").isEmpty(); }, 30000),
             "the main window never appeared on sway");
    QVERIFY2(m_reader->waitForApplication(30000), "the program never appeared on the accessibility bus");
}

void WaylandSessionTest::cleanupTestCase()
{
    m_reader.reset();
    if (m_desktop && m_instance > 0)
        m_desktop->terminate(m_instance);
    m_desktop.reset();
}

void WaylandSessionTest::windowAndTrayIcon()
{
    const QJsonObject window = m_desktop->window("tarn-desktop");
    QCOMPARE(window.value("name").toString(), QStringLiteral("Corvane Connect"));
    QVERIFY(window.value("visible").toBool());
    QVERIFY(window.value("focused").toBool());
    // waybar hosts the icon, and the item offers its menu to the panel.
    QVERIFY2(waitFor([this] { return !trayItem().isEmpty(); }), "no StatusNotifierItem registered");
    const QByteArray layout = panelMenuLayout();
    QVERIFY2(layout.contains("\"Show\"") && layout.contains("\"Quit\""), layout.constData());
    QCOMPARE(logCount("Wayland does not support"), 0);
}

void WaylandSessionTest::screenReaderSeesNamedControls()
{
    const QVector<QJsonObject> tree = m_reader->tree();
    auto has = [&tree](const QString &role, const QString &name) {
        return std::any_of(tree.begin(), tree.end(), [&](const QJsonObject &node) {
            return node.value("role").toString() == role && node.value("name").toString() == name;
        });
    };
    QVERIFY(has("frame", "Corvane Connect"));
    QVERIFY(has("image", "Corvane Connect logo"));
    QVERIFY(has("filler", "Navigation"));
    QVERIFY(has("label", "Connected devices: 0"));
    QVERIFY(has("label", "No USB devices found"));
    QVERIFY(has("push button", "Refresh"));
    for (const char *name : {"Devices", "Settings", "About"}) {
        const QJsonObject button = m_reader->find("check box", name);
        QVERIFY2(!button.isEmpty(), name);
        QVERIFY(AtspiClient::hasState(button, "focusable"));
    }
    QCOMPARE(checkedNavigation({"Devices", "Settings", "About"}), QStringList({"Devices"}));
}

void WaylandSessionTest::assistiveToggleSwitchesPage()
{
    QVERIFY(m_reader->act("check box", "Settings", "Toggle"));
    QVERIFY(waitFor(
        [this] { return AtspiClient::hasState(m_reader->find("list", "Settings categories"), "showing"); }));
    QCOMPARE(checkedNavigation({"Devices", "Settings", "About"}), QStringList({"Settings"}));
    QVERIFY(!AtspiClient::hasState(m_reader->find("label", "USB devices connected to this computer."),
                                   "showing"));
    // Toggling the marked button keeps it marked and its page on show.
    QVERIFY(m_reader->act("check box", "Settings", "Toggle"));
    QTest::qWait(300);
    QCOMPARE(checkedNavigation({"Devices", "Settings", "About"}), QStringList({"Settings"}));
    QVERIFY(m_reader->act("check box", "About", "Toggle"));
    QVERIFY(waitFor([this] {
        return checkedNavigation({"Devices", "Settings", "About"}) == QStringList({"About"});
    }));
    QVERIFY(!AtspiClient::hasState(m_reader->find("label", "Adjust how Corvane Connect works for you."),
                                   "showing"));
}

void WaylandSessionTest::menuMarksItsSection()
{
    // The device-management entry opens a sub-page of the settings: the Settings button is marked,
    // and the address field is named by its label.
    QVERIFY(m_reader->act("menu item", "Device management", "Press"));
    QVERIFY(waitFor([this] {
        return checkedNavigation({"Devices", "Settings", "About"}) == QStringList({"Settings"});
    }));
    QJsonObject field;
    QVERIFY(waitFor([&] {
        field = m_reader->find("text", "Server address");
        return AtspiClient::hasState(field, "showing");
    }));
    QVERIFY(field.value("labelledBy").toArray().contains("Server address"));
    // A page of no section clears every mark.
    QVERIFY(m_reader->act("menu item", "Feedback", "Press"));
    QVERIFY(waitFor(
        [this] { return AtspiClient::hasState(m_reader->find("text", "Your feedback"), "showing"); }));
    QCOMPARE(checkedNavigation({"Devices", "Settings", "About"}), QStringList());
}

void WaylandSessionTest::keyboardReachesNavigation()
{
    QVERIFY(m_reader->act("check box", "Devices", "SetFocus"));
    QVERIFY(
        waitFor([this] { return AtspiClient::hasState(m_reader->find("check box", "Devices"), "focused"); }));
    // Real key presses through the compositor: Tab to Settings, Space switches; Tab to About, Enter.
    QCOMPARE(m_desktop->run("wtype", {"-s", "300", "-k", "Tab", "-k", "space"}, 15000), 0);
    QVERIFY(waitFor([this] {
        return checkedNavigation({"Devices", "Settings", "About"}) == QStringList({"Settings"});
    }));
    QVERIFY(AtspiClient::hasState(m_reader->find("list", "Settings categories"), "showing"));
    QVERIFY(m_reader->act("check box", "Settings", "SetFocus"));
    QCOMPARE(m_desktop->run("wtype", {"-s", "300", "-k", "Tab", "-k", "Return"}, 15000), 0);
    QVERIFY(waitFor([this] {
        return checkedNavigation({"Devices", "Settings", "About"}) == QStringList({"About"});
    }));
}

void WaylandSessionTest::f10ReloadsTheme()
{
    const int before = logCount("reloadTheme current dpi size");
    QCOMPARE(m_desktop->run("wtype", {"-s", "300", "-k", "F10"}, 15000), 0);
    QVERIFY(waitFor([&] { return logCount("reloadTheme current dpi size") > before; }));
}

void WaylandSessionTest::secondStartTakesFocus()
{
    QVERIFY(m_desktop->swaymsg({"workspace", "2"}));
    QVERIFY(waitFor([this] { return !m_desktop->window("tarn-desktop").value("visible").toBool(); }));
    QCOMPARE(m_desktop->run(program(), {}, 30000), 255);
    QVERIFY(waitFor([this] {
        const QJsonObject window = m_desktop->window("tarn-desktop");
        return window.value("focused").toBool() && window.value("visible").toBool();
    }));
    QVERIFY(logCount("relay text received (13 chars) with an activation token") >= 1);
    QVERIFY(m_desktop->isRunning(m_instance));
}

void WaylandSessionTest::secondStartAsksForAttentionWhereFocusIsRefused()
{
    QVERIFY(m_desktop->swaymsg({"focus_on_window_activation", "urgent"}));
    QVERIFY(m_desktop->swaymsg({"workspace", "3"}));
    QCOMPARE(m_desktop->run(program(), {}, 30000), 255);
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").value("urgent").toBool(); }));
    const QJsonObject window = m_desktop->window("tarn-desktop");
    QVERIFY(!window.value("focused").toBool());
    QCOMPARE(window.value("workspace").toString(), QStringLiteral("1"));
    QVERIFY(m_desktop->swaymsg({"focus_on_window_activation", "focus"}));
    QVERIFY(m_desktop->swaymsg({"workspace", "1"}));
}

void WaylandSessionTest::invalidTokenStillShowsWindow()
{
    // Closing hides the window; a second start with a token the compositor never issued shows it.
    QVERIFY(m_desktop->swaymsg({"[app_id=tarn-desktop]", "kill"}));
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").isEmpty(); }));
    QCOMPARE(m_desktop->run(program(), {}, 30000, nullptr, {"XDG_ACTIVATION_TOKEN=never-issued-token"}), 255);
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").value("visible").toBool(); }));
    QVERIFY(m_desktop->isRunning(m_instance));
}

void WaylandSessionTest::trayActivateShowsWindow()
{
    QVERIFY(m_desktop->swaymsg({"[app_id=tarn-desktop]", "kill"}));
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").isEmpty(); }));
    // What the panel sends for a left click on the icon.
    const QString item = trayItem();
    const int slash = item.indexOf('/');
    QVERIFY(slash > 0);
    QCOMPARE(m_desktop->run("busctl",
                            {"--user", "call", item.left(slash), item.mid(slash),
                             "org.kde.StatusNotifierItem", "Activate", "ii", "0", "0"},
                            10000),
             0);
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").value("focused").toBool(); }));
}

void WaylandSessionTest::pointerOnPanelIcon()
{
    // waybar's tray sits at the right end of its 30-pixel bar; with one icon of 20 pixels its centre
    // is at (1259, 15) on the 1280x800 output, and the menu it draws opens below it.
    const QString pointer = QStringLiteral(TARN_TEST_SUPPORT_DIR "/virtual_pointer.py");
    QVERIFY(m_desktop->swaymsg({"[app_id=tarn-desktop]", "kill"}));
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").isEmpty(); }));
    QCOMPARE(m_desktop->run("/usr/bin/python3", {pointer, "1259", "15", "left", "640", "400"}, 20000), 0);
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").value("focused").toBool(); }));

    QVERIFY(m_desktop->swaymsg({"[app_id=tarn-desktop]", "kill"}));
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").isEmpty(); }));
    // The right click opens the panel's own drawing of the menu; "Show" is its first entry.
    QCOMPARE(m_desktop->run("/usr/bin/python3",
                            {pointer, "1259", "15", "right", "1200", "40", "1207", "32", "left"}, 20000),
             0);
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").value("visible").toBool(); }));
}

void WaylandSessionTest::requestedMenuWithoutPointerOpensInTheMiddle()
{
    // No pointer on the seat (the one of the case before has gone): the position never comes, and the
    // menu opens where someone using the keyboard looks.
    QVERIFY(m_pointer < 0);
    QVERIFY(m_desktop->swaymsg({"[app_id=tarn-desktop]", "kill"}));
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").isEmpty(); }));
    const QImage before = screenshot();
    QVERIFY(!before.isNull());
    QVERIFY(requestContextMenu(640, 400));
    QImage shown;
    QVERIFY2(waitForScreen(before, QRect(625, 390, 30, 20), 400, &shown), "no menu in the middle");
    QCOMPARE(changedPixels(before, shown, QRect(0, 0, 1280, 300)), 0);
    QCOMPARE(logCount("no pointer on the overlay"), 1);
    QCOMPARE(m_desktop->run("wtype", {"-s", "300", "-k", "Escape"}, 15000), 0);
    QVERIFY2(waitForScreen(before, QRect(0, 0, 1280, 800), -1), "Escape left the menu on screen");
    QVERIFY(m_desktop->window("tarn-desktop").isEmpty());
    QVERIFY(requestContextMenu(640, 400));
    QVERIFY(waitForScreen(before, QRect(625, 390, 30, 20), 400));
    QCOMPARE(m_desktop->run("wtype", {"-s", "300", "-k", "Down", "-k", "Return"}, 15000), 0);
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").value("focused").toBool(); }));
}

void WaylandSessionTest::requestedMenuOpensAtPointer()
{
    QVERIFY(m_desktop->swaymsg({"[app_id=tarn-desktop]", "kill"}));
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").isEmpty(); }));
    holdPointer(300, 500);
    const QImage before = screenshot();
    QVERIFY(!before.isNull());
    // Drawn right of and below the pointer, and nowhere near the middle of the screen.
    QVERIFY(requestContextMenu(300, 500));
    QImage shown;
    QVERIFY2(waitForScreen(before, QRect(300, 500, 40, 30), kMenuPixels, &shown),
             "no menu drawn at the pointer");
    QCOMPARE(changedPixels(before, shown, QRect(0, 0, 1280, 480)), 0);
    QCOMPARE(changedPixels(before, shown, QRect(0, 480, 290, 320)), 0);
    for (int y = 480; y < 800; ++y) {
        for (int x = 290; x < 1280; ++x) {
            if (before.pixel(x, y) != shown.pixel(x, y))
                m_unscaledMenu |= QRect(x, y, 1, 1);
        }
    }
    QCOMPARE(m_unscaledMenu.topLeft(), QPoint(300, 500));
    QCOMPARE(logCount("cannot be placed at the pointer"), 0);
    // A click on the first entry, "Show".
    QVERIFY(m_desktop->swaymsg({"seat", "-", "cursor", "set", "330", "510"}));
    QTest::qWait(300);
    QVERIFY(m_desktop->swaymsg({"seat", "-", "cursor", "press", "button1"}));
    QVERIFY(m_desktop->swaymsg({"seat", "-", "cursor", "release", "button1"}));
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").value("focused").toBool(); }));

    // Near the bottom-right corner the menu opens to the left of and above the pointer.
    QVERIFY(m_desktop->swaymsg({"[app_id=tarn-desktop]", "kill"}));
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").isEmpty(); }));
    holdPointer(1270, 790);
    const QImage corner = screenshot();
    QVERIFY(requestContextMenu(1270, 790));
    QVERIFY2(waitForScreen(corner, QRect(1230, 760, 40, 30), kMenuPixels, &shown),
             "no menu drawn at the corner");
    QCOMPARE(changedPixels(corner, shown, QRect(1270, 0, 10, 800)), 0);
    QCOMPARE(changedPixels(corner, shown, QRect(0, 790, 1280, 10)), 0);
    // The keyboard works it too: Down marks "Show", Return chooses it.
    QCOMPARE(m_desktop->run("wtype", {"-s", "300", "-k", "Down", "-k", "Return"}, 15000), 0);
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").value("focused").toBool(); }));
    QVERIFY(m_desktop->isRunning(m_instance));
}

void WaylandSessionTest::requestedMenuClosesWithoutChoice()
{
    QVERIFY(m_desktop->swaymsg({"[app_id=tarn-desktop]", "kill"}));
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").isEmpty(); }));
    // The compositor draws the cursor into the screenshots too: every comparison is with the screen
    // as it was with the pointer at the same place.
    holdPointer(900, 200);
    const QImage pointerHigh = screenshot();
    holdPointer(100, 700);
    const QImage pointerLow = screenshot();
    holdPointer(300, 500);
    const QImage before = screenshot();
    QVERIFY(!before.isNull() && !pointerHigh.isNull() && !pointerLow.isNull());
    const QRect atFirst(300, 500, 40, 30);
    const QRect screen(0, 0, 1280, 800);

    QVERIFY(requestContextMenu(300, 500));
    QVERIFY(waitForScreen(before, atFirst, kMenuPixels));
    QCOMPARE(m_desktop->run("wtype", {"-s", "300", "-k", "Escape"}, 15000), 0);
    QVERIFY2(waitForScreen(before, screen, -1), "Escape left the menu on screen");

    // Asked for again while open, the menu moves to the pointer instead of opening twice.
    QVERIFY(requestContextMenu(300, 500));
    QVERIFY(waitForScreen(before, atFirst, kMenuPixels));
    holdPointer(900, 200);
    QVERIFY(requestContextMenu(900, 200));
    QVERIFY2(waitForScreen(pointerHigh, QRect(900, 200, 40, 30), kMenuPixels), "the menu did not follow");
    QVERIFY2(waitForScreen(pointerHigh, QRect(0, 400, 1280, 400), -1), "the menu stayed at the first place");
    // A click outside closes it.
    holdPointer(100, 700);
    QTest::qWait(300);
    QVERIFY(m_desktop->swaymsg({"seat", "-", "cursor", "press", "button1"}));
    QVERIFY(m_desktop->swaymsg({"seat", "-", "cursor", "release", "button1"}));
    QVERIFY2(waitForScreen(pointerLow, screen, -1), "a click outside left the menu on screen");

    // Neither entry acted.
    QTest::qWait(1000);
    QVERIFY(m_desktop->window("tarn-desktop").isEmpty());
    QVERIFY(m_desktop->isRunning(m_instance));
    QCOMPARE(logCount("cannot be placed at the pointer"), 0);
    // The window comes back for the cases after this one.
    QVERIFY(requestContextMenu(100, 700));
    QVERIFY(waitForScreen(pointerLow, QRect(100, 700, 40, 30), kMenuPixels));
    QCOMPARE(m_desktop->run("wtype", {"-s", "300", "-k", "Down", "-k", "Return"}, 15000), 0);
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").value("focused").toBool(); }));
}

void WaylandSessionTest::languageSwitchReachesPanelMenu()
{
    QVERIFY(m_reader->act("menu item", "Language settings", "Press"));
    QVERIFY(waitFor(
        [this] { return AtspiClient::hasState(m_reader->find("radio button", "Deutsch"), "showing"); }));
    QVERIFY(m_reader->act("radio button", "Deutsch", "Toggle"));
    // With the tray's menu open at the pointer it is drawn again in the new language. It opens on the
    // dark panel, where it stands out: the window's background is the menu's colour.
    holdPointer(100, 2);
    const QImage before = screenshot();
    QVERIFY(requestContextMenu(100, 2));
    QImage english;
    QVERIFY(waitForScreen(before, QRect(100, 2, 40, 25), kMenuPixels, &english));
    QVERIFY(m_reader->act("push button", "Apply", "Press"));
    QVERIFY(waitFor([this] { return !m_reader->find("check box", "Einstellungen").isEmpty(); }));
    QVERIFY2(waitForScreen(english, QRect(101, 3, 60, 40), 20), "the open menu kept its old texts");
    QCOMPARE(m_desktop->run("wtype", {"-s", "300", "-k", "Escape"}, 15000), 0);
    QVERIFY(waitFor([this] { return logCount("menu closed: Escape") >= 2; }));
    QCOMPARE(checkedNavigation({"Geräte", "Einstellungen", "Über"}), QStringList({"Einstellungen"}));
    // Accessible names follow the language like every other text.
    QVERIFY(!m_reader->find("list", "Einstellungsbereiche").isEmpty());
    QVERIFY(waitFor([this] { return panelMenuLayout().contains("\"Anzeigen\""); }));
    QVERIFY(panelMenuLayout().contains("\"Beenden\""));
}

void WaylandSessionTest::uninstallClosesInstance()
{
    const QString relay = m_desktop->runtimeDir() + "/tarn-desktop/relay.sock";
    QVERIFY(QFile::exists(relay));
    QCOMPARE(m_desktop->run(program(), {"uninstall"}, 30000), 255);
    QCOMPARE(m_desktop->waitFor(m_instance, 30000), 0);
    m_instance = -1;
    // A clean exit takes its relay socket along.
    QVERIFY(!QFile::exists(relay));
    QVERIFY(waitFor([this] { return trayItem().isEmpty(); }));
}

void WaylandSessionTest::autorunStartsHidden()
{
    startInstance({"autorun"});
    QVERIFY(waitFor([this] { return !trayItem().isEmpty(); }, 30000));
    QVERIFY(m_desktop->window("tarn-desktop").isEmpty());
    QCOMPARE(m_desktop->run(program(), {}, 30000), 255);
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").value("focused").toBool(); }));
}

bool WaylandSessionTest::clickPanelMenuEntry(int index)
{
    const QString item = trayItem();
    const int slash = item.indexOf('/');
    if (slash <= 0)
        return false;
    const QString service = item.left(slash);
    QByteArray menu;
    m_desktop->run("busctl",
                   {"--user", "--json=short", "get-property", service, item.mid(slash),
                    "org.kde.StatusNotifierItem", "Menu"},
                   10000, &menu);
    const QString menuPath = QJsonDocument::fromJson(menu).object().value("data").toString();
    QByteArray layout;
    m_desktop->run("busctl",
                   {"--user", "--json=short", "call", "--", service, menuPath, "com.canonical.dbusmenu",
                    "GetLayout", "iias", "0", "-1", "0"},
                   10000, &layout);
    // u(ia{sv}av): the revision, then the root (id, properties, children); each child is a variant.
    const QJsonArray root = QJsonDocument::fromJson(layout).object().value("data").toArray().at(1).toArray();
    QVector<int> ids;
    for (const QJsonValue &child : root.at(2).toArray()) {
        const QJsonArray entry = child.toObject().value("data").toArray();
        if (entry.at(1).toObject().value("type").toObject().value("data").toString() != "separator")
            ids << entry.at(0).toInt();
    }
    if (index >= ids.size())
        return false;
    return m_desktop->run("busctl",
                          {"--user", "call", "--", service, menuPath, "com.canonical.dbusmenu", "Event",
                           "isvu", QString::number(ids.at(index)), "clicked", "s", "", "0"},
                          10000) == 0;
}

void WaylandSessionTest::panelMenuShowsAndQuits()
{
    QVERIFY(m_desktop->swaymsg({"[app_id=tarn-desktop]", "kill"}));
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").isEmpty(); }));
    QVERIFY(clickPanelMenuEntry(0));
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").value("visible").toBool(); }));
    QVERIFY(clickPanelMenuEntry(1));
    QCOMPARE(m_desktop->waitFor(m_instance, 30000), 0);
    m_instance = -1;
    QVERIFY(!QFile::exists(m_desktop->runtimeDir() + "/tarn-desktop/relay.sock"));
}

void WaylandSessionTest::requestedMenuQuits()
{
    const int exits = logCount("N:Demo app exit");
    startInstance();
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").value("focused").toBool(); }, 30000));
    QVERIFY(waitFor([this] { return !trayItem().isEmpty(); }, 30000));
    holdPointer(300, 500);
    const QImage before = screenshot();
    QVERIFY(requestContextMenu(300, 500));
    QVERIFY(waitForScreen(before, QRect(300, 500, 40, 30), kMenuPixels));
    // Up from no entry marks the last one, "Quit".
    QCOMPARE(m_desktop->run("wtype", {"-s", "300", "-k", "Up", "-k", "Return"}, 15000), 0);
    QCOMPARE(m_desktop->waitFor(m_instance, 30000), 0);
    m_instance = -1;
    QCOMPARE(logCount("N:Demo app exit"), exits + 1);
}

void WaylandSessionTest::panelGoingAwayLeavesProgramRunning()
{
    startInstance();
    QVERIFY(waitFor([this] { return !trayItem().isEmpty(); }, 30000));
    m_desktop->stopPanel();
    QTest::qWait(1500);
    QVERIFY(m_desktop->isRunning(m_instance));
    // Still answering: a second start brings the window forward.
    QCOMPARE(m_desktop->run(program(), {}, 30000), 255);
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").value("focused").toBool(); }));
}

void WaylandSessionTest::requestedMenuOnScaledOutput()
{
    // At scale 2 the 1280x800 output is 640x400 in the compositor's coordinates; the screenshot keeps
    // the output's pixels, so the pointer at (150, 250) is at pixel (300, 500).
    QVERIFY(m_desktop->swaymsg({"output", "HEADLESS-1", "scale", "2"}));
    QVERIFY(m_desktop->swaymsg({"[app_id=tarn-desktop]", "kill"}));
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").isEmpty(); }));
    holdPointer(150, 250);
    QTest::qWait(500);
    const QImage before = screenshot();
    QCOMPARE(before.size(), QSize(1280, 800));
    QVERIFY(requestContextMenu(150, 250));
    QImage shown;
    QVERIFY2(waitForScreen(before, QRect(300, 500, 40, 30), kMenuPixels, &shown), "no menu at the pointer");
    QCOMPARE(changedPixels(before, shown, QRect(0, 0, 1280, 490)), 0);
    QCOMPARE(changedPixels(before, shown, QRect(0, 490, 290, 310)), 0);
    // Drawn at the output's scale, the menu is as large as at scale 1 in the compositor's
    // coordinates: twice as many pixels as the same menu on the unscaled output.
    QRect menu;
    for (int y = 490; y < 800; ++y) {
        for (int x = 290; x < 1280; ++x) {
            if (before.pixel(x, y) != shown.pixel(x, y))
                menu |= QRect(x, y, 1, 1);
        }
    }
    QVERIFY2(menu.width() >= 2 * m_unscaledMenu.width() - 4 && menu.width() <= 2 * m_unscaledMenu.width() + 4,
             qPrintable(QStringLiteral("%1x%2 against %3x%4 unscaled")
                            .arg(menu.width())
                            .arg(menu.height())
                            .arg(m_unscaledMenu.width())
                            .arg(m_unscaledMenu.height())));
    QCOMPARE(m_desktop->run("wtype", {"-s", "300", "-k", "Down", "-k", "Return"}, 15000), 0);
    QVERIFY(waitFor([this] { return m_desktop->window("tarn-desktop").value("focused").toBool(); }));
    QVERIFY(m_desktop->swaymsg({"output", "HEADLESS-1", "scale", "1"}));
}

void WaylandSessionTest::compositorGoingAwayEndsProgramWithTrace()
{
    // With the menu open on its own connection to the compositor.
    holdPointer(300, 500);
    const QImage before = screenshot();
    QVERIFY(requestContextMenu(300, 500));
    QVERIFY(waitForScreen(before, QRect(300, 500, 40, 30), kMenuPixels));
    m_desktop->stopCompositor();
    // Qt's Wayland plugin ends the process; the reason is in the log, and no dump is written.
    QCOMPARE(m_desktop->waitFor(m_instance, 30000), 1);
    m_instance = -1;
    QVERIFY(logCount("The Wayland connection broke") >= 1);
    const QStringList dumps =
        QDir(m_desktop->dataHome() + "/tarn-desktop/log").entryList({"*.dmp", "*.core"});
    QVERIFY2(dumps.isEmpty(), qPrintable(dumps.join(' ')));
}

QTEST_GUILESS_MAIN(WaylandSessionTest)
#include "WaylandSessionTest.moc"
