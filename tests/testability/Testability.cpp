// The optional test library. The program loads it (when it lies beside the executable) and calls
// somain() once during start-up; it reads TARN_TESTABILITY_ACTION and schedules what system tests and
// benchmarks need on the program's own event loop:
//
//   quit-after-ms=N     end the event loop with a plain quit after N ms (0: on the first loop turn)
//   crash-after-ms=N    make a real invalid memory access after N ms
//   report-after-ms=N   append a state report to $TARN_TESTABILITY_OUT after N ms
//   f10-after-ms=N      press and release F10 on the main window after N ms
//   f10-on-trigger      once $TARN_TESTABILITY_OUT.trigger exists: press F10, report, quit
//   observe-heartbeat   map this process's heartbeat record; report its value every 500 ms and at exit
//   ready               append "ready" to $TARN_TESTABILITY_OUT on the first loop turn
//   qwarning-every-ms=N raise a Qt warning "testability warning <n>" every N ms
//   commands            read commands, one a line, from $TARN_TESTABILITY_OUT.in as the test appends them:
//                         locate <serial> <name>   answer "at <serial> <x> <y> <w> <h> <text>" (global,
//                                                  the text as shown) for the first visible control of
//                                                  that name, else "missing <serial>"
//                       A name is an object name, an accessible name, a control's or action's text
//                       without its '&', or the English source text of a translated menu or action.
//
// Actions are separated by commas. A report is lines "key=value": visible (main window), tray-available (a
// tray host is there), colour-count (pixels of the main window's rendering in $TARN_TESTABILITY_COLOUR),
// stylesheet-bytes, gl-driver (a GL driver is mapped into the process), wayland-client (Wayland's client
// library is).
#include "RuntimeLocation.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVariant>
#include <QWidget>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

QString outputPath()
{
    return QString::fromLocal8Bit(qgetenv("TARN_TESTABILITY_OUT"));
}

void appendOutput(const QByteArray &text)
{
    const QString path = outputPath();
    if (path.isEmpty()) {
        return;
    }
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        file.write(text);
    }
}

QWidget *mainWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String("MainWindow")) {
            return widget;
        }
    }
    return nullptr;
}

QByteArray processMaps()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) ? maps.readAll() : QByteArray();
}

// A GL driver (Mesa's GLX or EGL vendor library, or a DRI driver) mapped into this process.
bool glDriverLoaded()
{
    const QByteArray text = processMaps();
    return text.contains("_dri.so") || text.contains("libGLX_mesa") || text.contains("libEGL_mesa");
}

void report()
{
    QByteArray text;
    QWidget *window = mainWindow();
    text += "visible=" + QByteArray::number(window && window->isVisible() ? 1 : 0) + '\n';
    text += "tray-available=" + QByteArray::number(QSystemTrayIcon::isSystemTrayAvailable() ? 1 : 0) + '\n';
    const QByteArray colourName = qgetenv("TARN_TESTABILITY_COLOUR");
    if (window && !colourName.isEmpty()) {
        const QRgb wanted = QColor(QString::fromLatin1(colourName)).rgb();
        const QImage image = window->grab().toImage();
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if ((image.pixel(x, y) & 0xffffff) == (wanted & 0xffffff)) {
                    ++count;
                }
            }
        }
        text += "colour-count=" + QByteArray::number(count) + '\n';
    }
    text += "stylesheet-bytes=" + QByteArray::number(qApp->styleSheet().toUtf8().size()) + '\n';
    text += "gl-driver=" + QByteArray::number(glDriverLoaded() ? 1 : 0) + '\n';
    text +=
        "wayland-client=" + QByteArray::number(processMaps().contains("libwayland-client") ? 1 : 0) + '\n';
    text += "--\n";
    appendOutput(text);
}

void pressF10()
{
    QWidget *target = mainWindow();
    if (!target) {
        return;
    }
    QKeyEvent press(QEvent::KeyPress, Qt::Key_F10, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_F10, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &release);
}

// The heartbeat observer keeps its mapping after the program removes the record's name.
std::atomic<int64_t *> g_heartbeat{nullptr};

void reportHeartbeatAtExit()
{
    int64_t *view = g_heartbeat.load();
    if (view) {
        appendOutput("heartbeat-exit=" + QByteArray::number(static_cast<qlonglong>(*view)) + '\n');
    }
}

void observeHeartbeat()
{
    const QByteArray path = QByteArray::fromStdString(
        RuntimeLocation::objectPath("wddmpsharememory" + std::to_string(static_cast<long long>(getpid()))));
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        appendOutput("heartbeat-missing=1\n");
        return;
    }
    void *view = mmap(nullptr, sizeof(int64_t), PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (view == MAP_FAILED) {
        appendOutput("heartbeat-missing=1\n");
        return;
    }
    g_heartbeat.store(static_cast<int64_t *>(view));
    std::atexit(&reportHeartbeatAtExit);
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, []() {
        appendOutput("heartbeat=" + QByteArray::number(static_cast<qlonglong>(*g_heartbeat.load())) + '\n');
    });
    timer->start(500);
}

bool hasName(const QObject *object, const QString &name)
{
    if (!object) {
        return false;
    }
    if (object->objectName() == name || object->property("cvSourceText").toString() == name) {
        return true;
    }
    if (const auto *widget = qobject_cast<const QWidget *>(object)) {
        if (widget->accessibleName() == name) {
            return true;
        }
    }
    if (const auto *button = qobject_cast<const QAbstractButton *>(object)) {
        return QString(button->text()).remove(QLatin1Char('&')) == name;
    }
    if (const auto *action = qobject_cast<const QAction *>(object)) {
        return QString(action->text()).remove(QLatin1Char('&')) == name || hasName(action->menu(), name);
    }
    return false;
}

QString shownText(const QObject *object)
{
    if (const auto *action = qobject_cast<const QAction *>(object)) {
        return action->text();
    }
    if (const auto *button = qobject_cast<const QAbstractButton *>(object)) {
        return button->text();
    }
    if (const auto *widget = qobject_cast<const QWidget *>(object)) {
        return widget->windowTitle();
    }
    return QString();
}

// Where the first visible control of that name is on screen, and its text; open menus come first, as
// they lie on top.
QRect locate(const QString &name, QString *text)
{
    const QList<QWidget *> widgets = QApplication::allWidgets();
    for (QWidget *widget : widgets) {
        if (!widget->isVisible()) {
            continue;
        }
        const auto *menu = qobject_cast<QMenu *>(widget);
        const auto *bar = qobject_cast<QMenuBar *>(widget);
        if (!menu && !bar) {
            continue;
        }
        for (QAction *action : widget->actions()) {
            if (!action->isVisible() || !hasName(action, name)) {
                continue;
            }
            const QRect local = menu ? menu->actionGeometry(action) : bar->actionGeometry(action);
            if (local.isValid()) {
                *text = shownText(action);
                return QRect(widget->mapToGlobal(local.topLeft()), local.size());
            }
        }
    }
    for (QWidget *widget : widgets) {
        if (widget->isVisible() && hasName(widget, name)) {
            *text = shownText(widget);
            return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
        }
    }
    return QRect();
}

void runCommand(const QString &line)
{
    const QString verb = line.section(QLatin1Char(' '), 0, 0);
    const QString serial = line.section(QLatin1Char(' '), 1, 1);
    const QString argument = line.section(QLatin1Char(' '), 2);
    if (verb == QLatin1String("locate")) {
        QString text;
        const QRect at = locate(argument, &text);
        if (at.isValid()) {
            appendOutput(QStringLiteral("at %1 %2 %3 %4 %5 %6\n")
                             .arg(serial)
                             .arg(at.x())
                             .arg(at.y())
                             .arg(at.width())
                             .arg(at.height())
                             .arg(text.simplified())
                             .toUtf8());
        } else {
            appendOutput("missing " + serial.toUtf8() + '\n');
        }
    } else {
        appendOutput("unknown-command " + serial.toUtf8() + '\n');
    }
}

// Commands are read on the program's own event loop, so every answer sees a settled state.
void serveCommands()
{
    auto *poll = new QTimer(qApp);
    auto offset = std::make_shared<qint64>(0);
    QObject::connect(poll, &QTimer::timeout, [offset]() {
        QFile in(outputPath() + QStringLiteral(".in"));
        if (!in.open(QIODevice::ReadOnly) || in.size() <= *offset || !in.seek(*offset)) {
            return;
        }
        const QByteArray text = in.readAll();
        const int end = text.lastIndexOf('\n');
        if (end < 0) {
            return;
        }
        *offset += end + 1;
        for (const QByteArray &line : text.left(end).split('\n')) {
            if (!line.trimmed().isEmpty()) {
                runCommand(QString::fromUtf8(line.trimmed()));
            }
        }
    });
    poll->start(50);
}

int numberAfter(const QString &action)
{
    bool ok = false;
    const int value = action.section('=', 1).toInt(&ok);
    return ok && value >= 0 ? value : 0;
}

} // namespace

extern "C" __attribute__((visibility("default"))) void somain()
{
    if (!qApp) {
        return;
    }
    const QStringList actions =
        QString::fromLocal8Bit(qgetenv("TARN_TESTABILITY_ACTION")).split(',', Qt::SkipEmptyParts);
    for (const QString &raw : actions) {
        const QString action = raw.trimmed();
        if (action.startsWith(QLatin1String("quit-after-ms="))) {
            QTimer::singleShot(numberAfter(action), qApp, []() { QCoreApplication::quit(); });
        } else if (action.startsWith(QLatin1String("crash-after-ms="))) {
            QTimer::singleShot(numberAfter(action), qApp, []() {
                // The address comes through a volatile so the compiler cannot see (and reject) the fault.
                volatile uintptr_t address = 8;
                *reinterpret_cast<volatile int *>(address) = 1;
            });
        } else if (action.startsWith(QLatin1String("report-after-ms="))) {
            QTimer::singleShot(numberAfter(action), qApp, &report);
        } else if (action.startsWith(QLatin1String("f10-after-ms="))) {
            QTimer::singleShot(numberAfter(action), qApp, &pressF10);
        } else if (action == QLatin1String("f10-on-trigger")) {
            auto *poll = new QTimer(qApp);
            QObject::connect(poll, &QTimer::timeout, [poll]() {
                if (!QFile::exists(outputPath() + QStringLiteral(".trigger"))) {
                    return;
                }
                poll->stop();
                pressF10();
                QTimer::singleShot(300, qApp, []() {
                    report();
                    QCoreApplication::quit();
                });
            });
            poll->start(50);
        } else if (action == QLatin1String("observe-heartbeat")) {
            observeHeartbeat();
        } else if (action.startsWith(QLatin1String("qwarning-every-ms="))) {
            auto *tick = new QTimer(qApp);
            QObject::connect(tick, &QTimer::timeout, []() {
                static int count = 0;
                qWarning("testability warning %d", ++count);
            });
            tick->start(numberAfter(action));
        } else if (action == QLatin1String("commands")) {
            serveCommands();
        } else if (action == QLatin1String("ready")) {
            QTimer::singleShot(0, qApp, []() { appendOutput("ready\n"); });
        } else {
            appendOutput("unknown-action=" + action.toUtf8() + '\n');
        }
    }
}
