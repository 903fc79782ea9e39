#include "SoftPhoneSettingUi.h"

#include "CMainWindowDelegate.h"
#include "ModuleHost.h"
#include "ModuleTrace.h"
#include "SoftPhonePage.h"
#include "cvActionText.h"
#include "cvTr.h"

#include <QAction>
#include <QMenu>
#include <QPointer>

namespace {
struct State
{
    ModuleHost host;
    QPointer<SoftPhonePage> page;
    QPointer<QAction> action;
};

State &state()
{
    static State instance;
    return instance;
}

SoftPhonePage *softPhonePage()
{
    State &s = state();
    if (!s.page) {
        s.page = new SoftPhonePage();
        s.host.addToSettings(CV_TR("Soft phone"), s.page);
    }
    return s.page;
}
} // namespace

bool SOFTPHONESETTINGUI_Init(CMainWindowDelegate *window, CMessageBoxDelegate *msgBox,
                             CSettingDelegate *setting)
{
    MODULE_TRACE();
    State &s = state();
    if (s.host.initialised())
        return true;
    s.host.set(window, msgBox, setting);
    return true;
}

void SoftPhoneSettingUI_InitSoftPhoneSettingMenuItem()
{
    MODULE_TRACE();
    State &s = state();
    CMainWindowDelegate *window = s.host.window();
    if (!window || s.action)
        return;
    // Registered here rather than at Init, so the settings list follows the menu's order.
    softPhonePage();
    s.action = cvAddSourceAction(window->menuFor(CV_TR("Settings")), CV_TR("Soft phone settings"));
    QObject::connect(s.action, &QAction::triggered, [] { state().host.showPage(softPhonePage()); });
}

void SOFTPHONESETTINGUI_UnInit()
{
    MODULE_TRACE();
    State &s = state();
    delete s.action.data();
    delete s.page.data();
    s.host.clear();
}
