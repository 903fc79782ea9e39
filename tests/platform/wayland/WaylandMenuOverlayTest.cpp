#include "WaylandMenuOverlay.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

namespace {

// A compositor as small as the overlay's connection needs, speaking the Wayland wire protocol on a
// socket of its own: it announces the globals a case asks for, answers the first sync, and misbehaves
// in the ways a real one can (never answering, hanging up, refusing a request).
class FakeCompositor : public QObject
{
public:
    enum class Mode
    {
        Answer,
        Silent,
        HangUp,
        Refuse
    };

    FakeCompositor(const QString &path, Mode mode, bool layerShell, quint32 seatCapabilities = 0,
                   int outputScale = 0)
        : m_mode(mode), m_layerShell(layerShell), m_seatCapabilities(seatCapabilities),
          m_outputScale(outputScale)
    {
        QLocalServer::removeServer(path);
        m_server.listen(path);
        connect(&m_server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket *client = m_server.nextPendingConnection()) {
                ++connections;
                m_client = client;
                m_buffer.clear();
                m_bound.clear();
                m_registry = 0;
                surface = layerSurface = pointer = touch = 0;
                surfaceCommits = 0;
                bufferScale = 1;
                lastBuffer = QSize();
                m_pools.clear();
                m_attached = m_shown = 0;
                connect(client, &QLocalSocket::readyRead, this, &FakeCompositor::readRequests);
            }
        });
    }

    bool listening() const { return m_server.isListening(); }

    // Sends an event to one of the client's objects.
    void send(quint32 object, quint16 opcode, const QByteArray &arguments = QByteArray())
    {
        if (!m_client)
            return;
        QByteArray message;
        appendUint(message, object);
        appendUint(message, (static_cast<quint32>(8 + arguments.size()) << 16) | opcode);
        message += arguments;
        m_client->write(message);
        m_client->flush();
    }

    void hangUp()
    {
        if (m_client)
            m_client->abort();
    }

    static void appendUint(QByteArray &to, quint32 value)
    {
        char bytes[4];
        qToLittleEndian(value, bytes);
        to.append(bytes, 4);
    }

    static void appendString(QByteArray &to, const QByteArray &text)
    {
        appendUint(to, static_cast<quint32>(text.size() + 1));
        to += text;
        to.append('\0');
        while (to.size() % 4)
            to.append('\0');
    }

    // Input as the seat sends it, at surface coordinates.
    void pointerEnter(const QPoint &at)
    {
        QByteArray arguments;
        appendUint(arguments, ++m_serial);
        appendUint(arguments, surface);
        appendUint(arguments, static_cast<quint32>(at.x() * 256));
        appendUint(arguments, static_cast<quint32>(at.y() * 256));
        send(pointer, 0, arguments);
    }

    void pointerMotion(const QPoint &at)
    {
        QByteArray arguments;
        appendUint(arguments, 0);
        appendUint(arguments, static_cast<quint32>(at.x() * 256));
        appendUint(arguments, static_cast<quint32>(at.y() * 256));
        send(pointer, 2, arguments);
    }

    void click()
    {
        for (quint32 state : {1u, 0u}) {
            QByteArray arguments;
            appendUint(arguments, ++m_serial);
            appendUint(arguments, 0);
            appendUint(arguments, 0x110);
            appendUint(arguments, state);
            send(pointer, 3, arguments);
        }
    }

    void tap(const QPoint &at)
    {
        QByteArray down;
        appendUint(down, ++m_serial);
        appendUint(down, 0);
        appendUint(down, surface);
        appendUint(down, 0);
        appendUint(down, static_cast<quint32>(at.x() * 256));
        appendUint(down, static_cast<quint32>(at.y() * 256));
        send(touch, 0, down);
        send(touch, 3);
        QByteArray up;
        appendUint(up, ++m_serial);
        appendUint(up, 0);
        appendUint(up, 0);
        send(touch, 1, up);
        send(touch, 3);
    }

    int connections = 0;
    quint32 layerSurface = 0;
    quint32 surface = 0;
    quint32 pointer = 0;
    quint32 touch = 0;
    int surfaceCommits = 0;
    int bufferScale = 1;
    QSize lastBuffer;

private:
    void readRequests()
    {
        m_buffer += m_client->readAll();
        while (m_buffer.size() >= 8) {
            const quint32 object = qFromLittleEndian<quint32>(m_buffer.constData());
            const quint32 word = qFromLittleEndian<quint32>(m_buffer.constData() + 4);
            const int size = static_cast<int>(word >> 16);
            if (size < 8 || m_buffer.size() < size)
                return;
            request(object, word & 0xffff, m_buffer.mid(8, size - 8));
            m_buffer.remove(0, size);
            if (!m_client || m_client->state() != QLocalSocket::ConnectedState)
                return;
        }
    }

    static quint32 uintAt(const QByteArray &arguments, int index)
    {
        return arguments.size() >= (index + 1) * 4
                   ? qFromLittleEndian<quint32>(arguments.constData() + index * 4)
                   : 0;
    }

    void request(quint32 object, quint32 opcode, const QByteArray &arguments)
    {
        if (m_mode == Mode::Silent)
            return;
        if (m_mode == Mode::HangUp) {
            hangUp();
            return;
        }
        if (object == 1 && opcode == 1) { // wl_display.get_registry
            if (m_mode == Mode::Refuse) {
                // wl_display.error, naming the new registry.
                QByteArray error;
                appendUint(error, uintAt(arguments, 0));
                appendUint(error, 3);
                appendString(error, "not today");
                send(1, 0, error);
                return;
            }
            m_registry = uintAt(arguments, 0);
            announce(1, "wl_compositor", 4);
            announce(2, "wl_shm", 1);
            if (m_layerShell)
                announce(3, "zwlr_layer_shell_v1", 3);
            if (m_seatCapabilities)
                announce(4, "wl_seat", 5);
            if (m_outputScale)
                announce(5, "wl_output", 3);
        } else if (object == 1 && opcode == 0) { // wl_display.sync
            const quint32 callback = uintAt(arguments, 0);
            QByteArray serial;
            appendUint(serial, 1);
            send(callback, 0, serial);
            QByteArray id;
            appendUint(id, callback);
            send(1, 1, id);
        } else if (object == m_registry && opcode == 0) { // wl_registry.bind(name, interface, version, id)
            const quint32 name = uintAt(arguments, 0);
            const int length = static_cast<int>(uintAt(arguments, 1));
            const int padded = (length + 3) / 4 * 4;
            m_bound[name] = qFromLittleEndian<quint32>(arguments.constData() + 8 + padded + 4);
            if (name == 4) {
                QByteArray capabilities;
                appendUint(capabilities, m_seatCapabilities);
                send(m_bound[4], 0, capabilities);
            } else if (name == 5) {
                QByteArray scale;
                appendUint(scale, static_cast<quint32>(m_outputScale));
                send(m_bound[5], 3, scale); // wl_output.scale
                send(m_bound[5], 2);        // wl_output.done
            }
        } else if (object == m_bound[1] && opcode == 0) { // wl_compositor.create_surface
            surface = uintAt(arguments, 0);
        } else if (object == m_bound[4] && opcode == 0) { // wl_seat.get_pointer
            pointer = uintAt(arguments, 0);
        } else if (object == m_bound[4] && opcode == 2) { // wl_seat.get_touch
            touch = uintAt(arguments, 0);
        } else if (object == m_bound[3] && opcode == 0) { // zwlr_layer_shell_v1.get_layer_surface
            layerSurface = uintAt(arguments, 0);
        } else if (object == m_bound[2] && opcode == 0) { // wl_shm.create_pool (its fd travels aside)
            m_pools.push_back(uintAt(arguments, 0));
        } else if (std::find(m_pools.begin(), m_pools.end(), object) != m_pools.end() && opcode == 0) {
            // wl_shm_pool.create_buffer(id, offset, width, height, stride, format)
            lastBuffer =
                QSize(static_cast<int>(uintAt(arguments, 2)), static_cast<int>(uintAt(arguments, 3)));
        } else if (surface && object == surface && opcode == 8) { // wl_surface.set_buffer_scale
            bufferScale = static_cast<int>(uintAt(arguments, 0));
        } else if (surface && object == surface && opcode == 1) { // wl_surface.attach
            m_attached = uintAt(arguments, 0);
        } else if (surface && object == surface && opcode == 6) { // wl_surface.commit
            ++surfaceCommits;
            // A new buffer on screen frees the one before, as a compositor that has copied it would.
            if (m_shown && m_shown != m_attached)
                send(m_shown, 0); // wl_buffer.release
            m_shown = m_attached;
            if (surfaceCommits == 1) {
                QByteArray size;
                appendUint(size, 7);
                appendUint(size, 640);
                appendUint(size, 480);
                send(layerSurface, 0, size);
            } else if (surfaceCommits == 2 && m_outputScale) {
                // Mapped: the surface is on the output.
                QByteArray output;
                appendUint(output, m_bound[5]);
                send(surface, 0, output);
            }
        }
    }

    void announce(quint32 name, const QByteArray &interface, quint32 version)
    {
        QByteArray global;
        appendUint(global, name);
        appendString(global, interface);
        appendUint(global, version);
        send(m_registry, 0, global);
    }

    QLocalServer m_server;
    QPointer<QLocalSocket> m_client;
    QByteArray m_buffer;
    Mode m_mode;
    bool m_layerShell;
    quint32 m_seatCapabilities;
    int m_outputScale;
    std::vector<quint32> m_pools;
    quint32 m_attached = 0;
    quint32 m_shown = 0;
    quint32 m_serial = 0;
    quint32 m_registry = 0;
    std::map<quint32, quint32> m_bound;
};

} // namespace

// The overlay against compositors that cannot, will not or stop serving it: it says why it cannot
// open, never holds up the GUI thread, and closes without harm when its connection goes.
class WaylandMenuOverlayTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void withoutLayerShellItSaysSoOnce();
    void silentCompositorDoesNotHoldTheProgram();
    void brokenConnectionsAreReportedNotFatal();
    void closesWhenItsConnectionGoesAway();
    void closesWhenTheCompositorClosesIt();
    void pointerChoosesEntryWhereItIs();
    void touchWorksMenuOpenedWithoutPointer();
    void drawsAtItsOutputsScale();
    void placementStaysOnTheOutput();

private:
    std::unique_ptr<FakeCompositor> serve(FakeCompositor::Mode mode, bool layerShell, quint32 seat = 0)
    {
        std::unique_ptr<FakeCompositor> compositor(new FakeCompositor(m_socket, mode, layerShell, seat));
        return compositor;
    }
    QAction *entry(int index) const { return m_menu->actions().at(index); }
    // An open overlay on a compositor that offers everything, mapped with its first buffer.
    bool openMapped(WaylandMenuOverlay &overlay, FakeCompositor &compositor)
    {
        // What the last client did is no sign of the next one.
        compositor.surfaceCommits = 0;
        const int before = compositor.connections;
        overlay.open();
        return QTest::qWaitFor(
                   [&] { return compositor.connections > before && compositor.surfaceCommits >= 2; },
                   10000) &&
               overlay.isOpen();
    }

    QTemporaryDir m_dir;
    QString m_socket;
    QByteArray m_savedDisplay;
    std::unique_ptr<QMenu> m_menu;
};

void WaylandMenuOverlayTest::init()
{
    QVERIFY(m_dir.isValid());
    m_socket = m_dir.filePath("wayland-test");
    m_savedDisplay = qgetenv("WAYLAND_DISPLAY");
    qputenv("WAYLAND_DISPLAY", m_socket.toLocal8Bit());
    m_menu.reset(new QMenu);
    m_menu->addAction("Show");
    m_menu->addAction("Quit");
}

void WaylandMenuOverlayTest::cleanup()
{
    m_menu.reset();
    if (m_savedDisplay.isNull())
        qunsetenv("WAYLAND_DISPLAY");
    else
        qputenv("WAYLAND_DISPLAY", m_savedDisplay);
}

void WaylandMenuOverlayTest::withoutLayerShellItSaysSoOnce()
{
    auto compositor = serve(FakeCompositor::Mode::Answer, false);
    QVERIFY(compositor->listening());
    WaylandMenuOverlay overlay(m_menu.get());
    QSignalSpy unavailable(&overlay, &WaylandMenuOverlay::unavailable);
    overlay.open();
    QVERIFY(unavailable.wait(10000));
    QVERIFY2(unavailable.at(0).at(0).toString().contains("zwlr_layer_shell_v1"),
             qPrintable(unavailable.at(0).at(0).toString()));
    QVERIFY(!overlay.isOpen());
    QVERIFY(!overlay.supported());
    // Known now: the next request is answered at once, without asking the compositor again.
    overlay.open();
    QCOMPARE(unavailable.count(), 2);
    QTest::qWait(200);
    QCOMPARE(compositor->connections, 1);
}

void WaylandMenuOverlayTest::silentCompositorDoesNotHoldTheProgram()
{
    auto compositor = serve(FakeCompositor::Mode::Silent, true);
    WaylandMenuOverlay overlay(m_menu.get());
    QSignalSpy unavailable(&overlay, &WaylandMenuOverlay::unavailable);
    // The GUI thread keeps turning while the compositor says nothing.
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longestGap = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - last);
        last = clock.elapsed();
    });
    clock.start();
    ticker.start(20);
    overlay.open();
    QVERIFY(clock.elapsed() < 1000);
    QVERIFY(unavailable.wait(15000));
    QVERIFY2(unavailable.at(0).at(0).toString().contains("did not answer"),
             qPrintable(unavailable.at(0).at(0).toString()));
    QVERIFY2(longestGap < 1000, qPrintable(QString::number(longestGap)));
    QVERIFY(!overlay.isOpen());
    // Not answering once is no verdict on the compositor.
    QVERIFY(overlay.supported());
}

void WaylandMenuOverlayTest::brokenConnectionsAreReportedNotFatal()
{
    {
        WaylandMenuOverlay overlay(m_menu.get());
        QSignalSpy unavailable(&overlay, &WaylandMenuOverlay::unavailable);
        overlay.open(); // nobody listens on the socket
        QCOMPARE(unavailable.count(), 1);
        QVERIFY(unavailable.at(0).at(0).toString().contains("no connection"));
    }
    {
        auto compositor = serve(FakeCompositor::Mode::HangUp, true);
        WaylandMenuOverlay overlay(m_menu.get());
        QSignalSpy unavailable(&overlay, &WaylandMenuOverlay::unavailable);
        overlay.open();
        QVERIFY(unavailable.wait(10000));
        QVERIFY2(unavailable.at(0).at(0).toString().contains("broke"),
                 qPrintable(unavailable.at(0).at(0).toString()));
        QVERIFY(!overlay.isOpen());
    }
    {
        auto compositor = serve(FakeCompositor::Mode::Refuse, true);
        WaylandMenuOverlay overlay(m_menu.get());
        QSignalSpy unavailable(&overlay, &WaylandMenuOverlay::unavailable);
        overlay.open();
        QVERIFY(unavailable.wait(10000));
        QVERIFY2(unavailable.at(0).at(0).toString().contains("wl_registry error 3"),
                 qPrintable(unavailable.at(0).at(0).toString()));
        QVERIFY(!overlay.isOpen());
    }
}

void WaylandMenuOverlayTest::closesWhenItsConnectionGoesAway()
{
    auto compositor = serve(FakeCompositor::Mode::Answer, true);
    WaylandMenuOverlay overlay(m_menu.get());
    QSignalSpy unavailable(&overlay, &WaylandMenuOverlay::unavailable);
    QSignalSpy closed(&overlay, &WaylandMenuOverlay::closed);
    QVERIFY(openMapped(overlay, *compositor));
    QVERIFY(compositor->layerSurface != 0);
    // Asked for again while open: still the one connection, the one surface.
    overlay.open();
    QTest::qWait(300);
    QCOMPARE(compositor->connections, 1);
    QVERIFY(overlay.isOpen());

    compositor->hangUp();
    QVERIFY(closed.wait(10000));
    QVERIFY(!overlay.isOpen());
    QCOMPARE(unavailable.count(), 0);
    QVERIFY(m_menu->activeAction() == nullptr);
    // And it opens again on the next request.
    compositor.reset();
    compositor = serve(FakeCompositor::Mode::Answer, true);
    QVERIFY(openMapped(overlay, *compositor));
    overlay.close();
    QVERIFY(!overlay.isOpen());
    QCOMPARE(closed.count(), 2);
}

void WaylandMenuOverlayTest::closesWhenTheCompositorClosesIt()
{
    auto compositor = serve(FakeCompositor::Mode::Answer, true);
    WaylandMenuOverlay overlay(m_menu.get());
    QSignalSpy closed(&overlay, &WaylandMenuOverlay::closed);
    QVERIFY(openMapped(overlay, *compositor));
    // zwlr_layer_surface_v1.closed: its output went away.
    compositor->send(compositor->layerSurface, 1);
    QVERIFY(closed.wait(10000));
    QVERIFY(!overlay.isOpen());
}

void WaylandMenuOverlayTest::pointerChoosesEntryWhereItIs()
{
    auto compositor = serve(FakeCompositor::Mode::Answer, true, 1 /* pointer */);
    WaylandMenuOverlay overlay(m_menu.get());
    QSignalSpy closed(&overlay, &WaylandMenuOverlay::closed);
    QSignalSpy shown(entry(0), &QAction::triggered);
    QSignalSpy quit(entry(1), &QAction::triggered);
    QVERIFY(openMapped(overlay, *compositor));
    QVERIFY(compositor->pointer != 0);

    // The menu goes where the pointer enters; a press outside it closes it and chooses nothing.
    compositor->pointerEnter(QPoint(100, 120));
    QVERIFY(QTest::qWaitFor([&] { return compositor->surfaceCommits >= 3; }, 10000));
    compositor->pointerMotion(QPoint(90, 110));
    compositor->click();
    QVERIFY(closed.wait(10000));
    QCOMPARE(shown.count() + quit.count(), 0);

    // A click on "Show", found where the menu lays it out from the pointer's corner.
    QVERIFY(openMapped(overlay, *compositor));
    compositor->pointerEnter(QPoint(100, 120));
    const QPoint show = QPoint(100, 120) + m_menu->actionGeometry(entry(0)).center();
    compositor->pointerMotion(show);
    QVERIFY(QTest::qWaitFor([&] { return m_menu->activeAction() == entry(0); }, 10000));
    compositor->click();
    QVERIFY(shown.wait(10000));
    QCOMPARE(quit.count(), 0);
    QCOMPARE(closed.count(), 2);
    QVERIFY(!overlay.isOpen());
}

void WaylandMenuOverlayTest::touchWorksMenuOpenedWithoutPointer()
{
    auto compositor = serve(FakeCompositor::Mode::Answer, true, 4 /* touch */);
    WaylandMenuOverlay overlay(m_menu.get());
    QSignalSpy closed(&overlay, &WaylandMenuOverlay::closed);
    QSignalSpy shown(entry(0), &QAction::triggered);
    QSignalSpy quit(entry(1), &QAction::triggered);
    QVERIFY(openMapped(overlay, *compositor));
    QVERIFY(compositor->touch != 0);
    // No pointer: drawn again, in the middle of the 640x480 output, once the wait for one is over.
    QVERIFY(QTest::qWaitFor([&] { return compositor->surfaceCommits >= 3; }, 10000));
    const QSize size = m_menu->size();
    const QPoint corner((640 - size.width()) / 2, (480 - size.height()) / 2);
    compositor->tap(corner + m_menu->actionGeometry(entry(1)).center());
    QVERIFY(quit.wait(10000));
    QCOMPARE(shown.count(), 0);
    QCOMPARE(closed.count(), 1);

    // A tap beside it closes it.
    QVERIFY(openMapped(overlay, *compositor));
    QVERIFY(QTest::qWaitFor([&] { return compositor->surfaceCommits >= 3; }, 10000));
    compositor->tap(QPoint(5, 5));
    QVERIFY(closed.wait(10000));
    QCOMPARE(shown.count() + quit.count(), 1);
}

void WaylandMenuOverlayTest::drawsAtItsOutputsScale()
{
    std::unique_ptr<FakeCompositor> compositor(
        new FakeCompositor(m_socket, FakeCompositor::Mode::Answer, true, 1 /* pointer */, 2));
    WaylandMenuOverlay overlay(m_menu.get());
    QVERIFY(openMapped(overlay, *compositor));
    // The first buffer goes out before the compositor says where the surface is; once it is on the
    // output of scale 2, the 640x480 overlay is drawn into 1280x960 pixels.
    QVERIFY(QTest::qWaitFor([&] { return compositor->bufferScale == 2; }, 10000));
    QCOMPARE(compositor->lastBuffer, QSize(1280, 960));
    // Input stays in the output's coordinates.
    QSignalSpy shown(entry(0), &QAction::triggered);
    const int drawn = compositor->surfaceCommits;
    compositor->pointerEnter(QPoint(600, 400));
    QVERIFY(QTest::qWaitFor([&] { return compositor->surfaceCommits > drawn; }, 10000));
    const QPoint corner = WaylandMenuOverlay::placement(m_menu->size(), QPoint(600, 400), QSize(640, 480));
    compositor->pointerMotion(corner + m_menu->actionGeometry(entry(0)).center());
    compositor->click();
    QVERIFY(shown.wait(10000));
}

void WaylandMenuOverlayTest::placementStaysOnTheOutput()
{
    const QSize output(1280, 800);
    const QSize menu(120, 60);
    struct Case
    {
        QPoint pointer;
        QPoint expected;
    };
    const Case cases[] = {
        {{300, 500}, {300, 500}},   // room right and below
        {{1279, 799}, {1159, 739}}, // bottom-right corner: left of and above
        {{1200, 10}, {1080, 10}},   // right edge only
        {{1160, 740}, {1160, 740}}, // exactly fits
        {{1161, 741}, {1041, 681}}, // one pixel short
        {{0, 0}, {0, 0}},           // top-left corner
        {{-50, -50}, {0, 0}},       // a position off the output is pulled in
        {{5000, 5000}, {1160, 740}},
    };
    for (const Case &c : cases)
        QCOMPARE(WaylandMenuOverlay::placement(menu, c.pointer, output), c.expected);
    // A menu larger than the output starts at its top-left corner.
    QCOMPARE(WaylandMenuOverlay::placement(QSize(2000, 900), QPoint(600, 400), output), QPoint(0, 0));
    // Near the left or top edge a flip would leave the output: it is kept inside instead.
    QCOMPARE(WaylandMenuOverlay::placement(QSize(700, 500), QPoint(640, 400), output), QPoint(0, 0));
}

QTEST_MAIN(WaylandMenuOverlayTest)
#include "WaylandMenuOverlayTest.moc"
