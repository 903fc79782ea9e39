#include "TarnApplication.h"

#include "ETLLib.h"

#include <QByteArray>
#include <QKeyEvent>
#include <QMetaObject>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
// Null while dispatches are timed by GetTickCount, which then is read inline.
std::atomic<TarnApplication::TickSource> g_tickSource{nullptr};

bool hasValue(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value;
}

// The platform the process was given, put back once the application object has its own, so that a
// program the process starts gets the environment the process was given.
struct PlatformOverride
{
    bool active = false;
    bool hadValue = false;
    QByteArray value;
};
PlatformOverride g_platformOverride;

// The whole command line is "uninstall", by the rule the controller reduces it with.
bool isUninstallRequest(int argc, char **argv)
{
    std::string commandLine;
    for (int i = 1; i < argc && argv[i]; ++i) {
        if (!commandLine.empty()) {
            commandLine += ' ';
        }
        commandLine += argv[i];
    }
    return commandLine == "uninstall";
}

// Without any display Qt aborts with advice to reinstall, which sends users the wrong way; say what is
// missing and end plainly instead. A platform chosen explicitly is left to Qt.
// The uninstall request shows no window: it only hands "CloseApp" to the running instance and may
// start the removal, so it must work where no display is reachable (a package script, an ssh session,
// a stale DISPLAY) and never opens one.
int &checkDisplay(int &argc, char **argv)
{
    if (isUninstallRequest(argc, argv)) {
        g_platformOverride.active = true;
        g_platformOverride.hadValue = qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
        g_platformOverride.value = qgetenv("QT_QPA_PLATFORM");
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return argc;
    }
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

// Kept out of the dispatch path, which runs for every event of the process.
[[gnu::cold]] [[gnu::noinline]] void traceSlowDispatch(const QString &objectName, const QMetaObject *meta,
                                                       int eventType, uint32_t span)
{
    etlModuleTrace(
        4, "W:Demo",
        "Single Event Call over 1 second, ObjectName %s, Classname %s, event type %d, timeSpan %d ",
        objectName.toUtf8().constData(), meta ? meta->className() : "", eventType, static_cast<int>(span));
}

// Widgets are drawn by the raster engine; without this every top-level window is made able to host
// OpenGL children, which loads the GL driver at the first show: tens of milliseconds and tens of
// megabytes for nothing, as no window of the program uses OpenGL.
int &useRasterWindows(int &argc)
{
    QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
    return argc;
}
} // namespace

TarnApplication::TarnApplication(int &argc, char **argv)
    : QApplication(useRasterWindows(checkDisplay(argc, argv)), argv)
{
    if (g_platformOverride.active) {
        g_platformOverride.active = false;
        if (g_platformOverride.hadValue) {
            qputenv("QT_QPA_PLATFORM", g_platformOverride.value);
        } else {
            qunsetenv("QT_QPA_PLATFORM");
        }
    }
}

TarnApplication::~TarnApplication() = default;

uint32_t TarnApplication::tickSpan(DWORD start, DWORD end)
{
    // Unsigned subtraction is exact across one wrap of the 32-bit counter.
    return static_cast<uint32_t>(end - start);
}

TarnApplication::TickSource TarnApplication::setTickSource(TickSource source)
{
    const TickSource previous = g_tickSource.exchange(source == &GetTickCount ? nullptr : source);
    return previous ? previous : &GetTickCount;
}

bool TarnApplication::notify(QObject *receiver, QEvent *event)
{
    // The name and the meta-object are taken before delivery because the receiver may not outlive
    // it; the class name lives in the meta-object, so it is read only when a trace is due.
    const QString objectName = receiver ? receiver->objectName() : QString();
    const QMetaObject *meta = receiver ? receiver->metaObject() : nullptr;
    int eventType = -1;
    if (event) {
        eventType = static_cast<int>(event->type());
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_F10) {
            emit signalReloadTheme();
        }
    }

    const TickSource tick = g_tickSource.load(std::memory_order_relaxed);
    const DWORD start = Q_UNLIKELY(tick) ? tick() : GetTickCount();
    // Delivering a null event would dereference it inside Qt; there is nothing to deliver.
    const bool result = event ? QApplication::notify(receiver, event) : false;
    const DWORD end = Q_UNLIKELY(tick) ? tick() : GetTickCount();

    const uint32_t span = tickSpan(start, end);
    if (span > 1000) {
        traceSlowDispatch(objectName, meta, eventType, span);
    }
    return result;
}
