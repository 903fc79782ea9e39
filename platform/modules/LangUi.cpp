#include "LangUi.h"

#include "CMainWindowDelegate.h"
#include "LanguagePage.h"
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
    QPointer<LanguagePage> page;
    QPointer<QAction> action;
};

State &state()
{
    static State instance;
    return instance;
}

LanguagePage *languagePage()
{
    State &s = state();
    if (!s.page) {
        s.page = new LanguagePage(&s.host);
        s.host.addToSettings(CV_TR("Language"), s.page);
    }
    return s.page;
}
} // namespace

bool LANGUI_Init(CMainWindowDelegate *window, CMessageBoxDelegate *msgBox, CSettingDelegate *setting)
{
    MODULE_TRACE();
    State &s = state();
    if (s.host.initialised())
        return true;
    s.host.set(window, msgBox, setting);
    return true;
}

void LangUi_InitLangeConfigMenuItem()
{
    MODULE_TRACE();
    State &s = state();
    CMainWindowDelegate *window = s.host.window();
    if (!window || s.action)
        return;
    // Registered here rather than at Init, so the settings list follows the menu's order.
    languagePage();
    s.action = cvAddSourceAction(window->menuFor(CV_TR("Settings")), CV_TR("Language settings"));
    QObject::connect(s.action, &QAction::triggered, [] { state().host.showPage(languagePage()); });
}

void LANGUI_UnInit()
{
    MODULE_TRACE();
    State &s = state();
    delete s.action.data();
    delete s.page.data();
    s.host.clear();
}
