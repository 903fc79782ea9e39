#include "DmsUi.h"

#include "CMainWindowDelegate.h"
#include "DmsPage.h"
#include "ModuleHost.h"
#include "ModuleTrace.h"
#include "cvActionText.h"
#include "cvTr.h"

#include <QAction>
#include <QMenu>
#include <QPointer>

namespace {
struct State
{
    ModuleHost host;
    QPointer<DmsPage> page;
    QPointer<QAction> action;
};

State &state()
{
    static State instance;
    return instance;
}

DmsPage *dmsPage()
{
    State &s = state();
    if (!s.page) {
        s.page = new DmsPage(&s.host);
        s.host.addToSettings(CV_TR("Device management"), s.page);
    }
    return s.page;
}
} // namespace

bool DMSUI_Init(CMainWindowDelegate *window, CMessageBoxDelegate *msgBox, CSettingDelegate *setting)
{
    MODULE_TRACE();
    State &s = state();
    if (s.host.initialised())
        return true;
    s.host.set(window, msgBox, setting);
    return true;
}

void DMSUI_InitDmMangageMenuItem()
{
    MODULE_TRACE();
    State &s = state();
    CMainWindowDelegate *window = s.host.window();
    if (!window || s.action)
        return;
    // Registered here rather than at Init, so the settings list follows the menu's order.
    dmsPage();
    s.action = cvAddSourceAction(window->menuFor(CV_TR("Settings")), CV_TR("Device management"));
    QObject::connect(s.action, &QAction::triggered, [] { state().host.showPage(dmsPage()); });
}

void DMSUI_UnInit()
{
    MODULE_TRACE();
    State &s = state();
    delete s.action.data();
    delete s.page.data();
    s.host.clear();
}
