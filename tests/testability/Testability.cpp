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
//
// Actions are separated by commas. A report is lines "key=value": visible (main window), tray-available (a
// tray host is there), colour-count (pixels of the main window's rendering in $TARN_TESTABILITY_COLOUR),
// stylesheet-bytes, gl-driver (a GL driver is mapped into the process).
#include "RuntimeLocation.h"

#include <QApplication>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

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

// A GL driver (Mesa's GLX or EGL vendor library, or a DRI driver) mapped into this process.
bool glDriverLoaded()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray text = maps.readAll();
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
        } else if (action == QLatin1String("ready")) {
            QTimer::singleShot(0, qApp, []() { appendOutput("ready\n"); });
        } else {
            appendOutput("unknown-action=" + action.toUtf8() + '\n');
        }
    }
}
