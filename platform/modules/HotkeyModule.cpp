#include "HotkeyModule.h"

#include "HotkeyFilter.h"
#include "ModuleTrace.h"

#include <QApplication>
#include <QPointer>

namespace {
QPointer<HotkeyFilter> g_filter;
}

bool HotkeyModule_Init()
{
    MODULE_TRACE();
    if (g_filter)
        return true;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return false;
    // Owned by the application, so it ends with it.
    g_filter = new HotkeyFilter(app);
    app->installEventFilter(g_filter);
    return true;
}
