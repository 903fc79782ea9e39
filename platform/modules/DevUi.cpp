#include "DevUi.h"

#include "CMainWindowDelegate.h"
#include "DevicesPage.h"
#include "ModuleHost.h"
#include "ModuleTrace.h"

#include <QPointer>

namespace {
struct State
{
    ModuleHost host;
    QPointer<DevicesPage> page;
    std::string dataPath;
};

State &state()
{
    static State instance;
    return instance;
}
} // namespace

bool DEVUI_Init(CMainWindowDelegate *window, CMessageBoxDelegate *msgBox, CSettingDelegate *setting)
{
    MODULE_TRACE();
    state().host.set(window, msgBox, setting);
    return true;
}

void DEVUI_SetDataPath(const std::string &dataPath)
{
    MODULE_TRACE();
    state().dataPath = dataPath;
}

void DEVUI_OnShowDefaultContent()
{
    MODULE_TRACE();
    State &s = state();
    CMainWindowDelegate *window = s.host.window();
    if (!window)
        return;
    if (s.page)
        s.page->refresh();
    else
        s.page = new DevicesPage(window->pageArea());
    window->showPage(s.page);
}

void DEVUI_UnInit()
{
    MODULE_TRACE();
    State &s = state();
    delete s.page.data();
    s.host.clear();
}
