#include "TarnApplication.h"

#include "ETLLib.h"

#include <QByteArray>
#include <QKeyEvent>
#include <QMetaObject>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
std::atomic<TarnApplication::TickSource> g_tickSource{&GetTickCount};

bool hasValue(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value;
}

// Without any display Qt aborts with advice to reinstall, which sends users the wrong way; say what is
// missing and end plainly instead. A platform chosen explicitly is left to Qt.
int &checkDisplay(int &argc, char **argv)
{
    if (hasValue("QT_QPA_PLATFORM") || hasValue("DISPLAY") || hasValue("WAYLAND_DISPLAY")) {
        return argc;
    }
    for (int i = 1; i < argc && argv[i]; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) {
            return argc;
        }
    }
    std::fputs(
        "tarn-desktop: cannot start: no display (DISPLAY is not set). Start it from a desktop session.\n",
        stderr);
    std::exit(1);
}
} // namespace

TarnApplication::TarnApplication(int &argc, char **argv) : QApplication(checkDisplay(argc, argv), argv) {}

TarnApplication::~TarnApplication() = default;

uint32_t TarnApplication::tickSpan(DWORD start, DWORD end)
{
    // Unsigned subtraction is exact across one wrap of the 32-bit counter.
    return static_cast<uint32_t>(end - start);
}

TarnApplication::TickSource TarnApplication::setTickSource(TickSource source)
{
    return g_tickSource.exchange(source ? source : &GetTickCount);
}

bool TarnApplication::notify(QObject *receiver, QEvent *event)
{
    // Names are taken for every event but only converted when a trace is due.
    QString objectName;
    const char *className = "";
    int eventType = -1;

    if (receiver) {
        objectName = receiver->objectName();
        const QMetaObject *meta = receiver->metaObject();
        if (meta) {
            className = meta->className();
        }
    }
    if (event) {
        eventType = static_cast<int>(event->type());
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_F10) {
            emit signalReloadTheme();
        }
    }

    const TickSource tick = g_tickSource.load(std::memory_order_relaxed);
    const DWORD start = tick();
    // Delivering a null event would dereference it inside Qt; there is nothing to deliver.
    const bool result = event ? QApplication::notify(receiver, event) : false;
    const DWORD end = tick();

    const uint32_t span = tickSpan(start, end);
    if (span > 1000) {
        etlModuleTrace(
            4, "W:Demo",
            "Single Event Call over 1 second, ObjectName %s, Classname %s, event type %d, timeSpan %d ",
            objectName.toUtf8().constData(), className, eventType, static_cast<int>(span));
    }
    return result;
}
