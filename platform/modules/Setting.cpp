#include "Setting.h"

#include "AboutPage.h"
#include "CMainWindowDelegate.h"
#include "ModuleTrace.h"
#include "SettingDelegate.h"
#include "SettingPage.h"

#include <QPointer>

namespace {
struct State
{
    // Lives for the process: modules keep the pointer they were given.
    SettingDelegate delegate;
    QPointer<AboutPage> about;
    bool initialised = false;
};

State &state()
{
    static State instance;
    return instance;
}
} // namespace

bool Setting_Init(CMainWindowDelegate *window)
{
    MODULE_TRACE();
    State &s = state();
    if (s.initialised)
        return true;
    s.initialised = true;
    s.delegate.attach(window, window ? window->windowWidget() : nullptr);
    return true;
}

CSettingDelegate *Setting_GetDelegate()
{
    MODULE_TRACE();
    return state().initialised ? &state().delegate : nullptr;
}

void Setting_ShowSetting(int page, int subPage)
{
    MODULE_TRACE();
    Q_UNUSED(page);
    State &s = state();
    CMainWindowDelegate *window = s.delegate.window();
    if (!window)
        return;
    SettingPage *settings = s.delegate.ensurePage();
    if (!settings)
        return;
    settings->selectSubPage(subPage);
    window->showPage(settings);
}

void Setting_ShowSettingAbout(int page, int subPage)
{
    MODULE_TRACE();
    Q_UNUSED(page);
    Q_UNUSED(subPage);
    State &s = state();
    CMainWindowDelegate *window = s.delegate.window();
    if (!window || !s.initialised)
        return;
    if (!s.about)
        s.about = new AboutPage();
    window->showPage(s.about);
}

void Setting_Uninit()
{
    MODULE_TRACE();
    State &s = state();
    delete s.about.data();
    delete s.delegate.page();
    s.delegate.detach();
    s.initialised = false;
}
