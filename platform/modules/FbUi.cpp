#include "FbUi.h"

#include "CMainWindowDelegate.h"
#include "FeedbackPage.h"
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
    QPointer<FeedbackPage> page;
    QPointer<QAction> action;
};

State &state()
{
    static State instance;
    return instance;
}

void showFeedback()
{
    State &s = state();
    if (!s.page)
        s.page = new FeedbackPage(&s.host);
    s.host.showPage(s.page);
}
} // namespace

bool FBUI_Init(CMainWindowDelegate *window, CMessageBoxDelegate *msgBox, CSettingDelegate *setting)
{
    MODULE_TRACE();
    State &s = state();
    if (!s.host.initialised())
        s.host.set(window, msgBox, setting);
    return true;
}

void FBUI_InitFeedbackMenuItem()
{
    MODULE_TRACE();
    State &s = state();
    CMainWindowDelegate *window = s.host.window();
    if (!window || s.action)
        return;
    s.action = cvAddSourceAction(window->menuFor(CV_TR("Help")), CV_TR("Feedback"));
    QObject::connect(s.action, &QAction::triggered, showFeedback);
}

void FBUI_UnInit()
{
    MODULE_TRACE();
    State &s = state();
    delete s.action.data();
    delete s.page.data();
    s.host.clear();
}
