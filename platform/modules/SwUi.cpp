#include "SwUi.h"

#include "CMainWindowDelegate.h"
#include "LegalPage.h"
#include "ModuleHost.h"
#include "ModuleTrace.h"
#include "UpdatePage.h"
#include "cvActionText.h"
#include "cvTr.h"

#include <QAction>
#include <QMenu>
#include <QPointer>

namespace {
struct State
{
    ModuleHost host;
    QPointer<UpdatePage> update;
    QPointer<LegalPage> agreement;
    QPointer<LegalPage> privacy;
    QList<QPointer<QAction>> actions;
};

State &state()
{
    static State instance;
    return instance;
}

const QString kHelpMenu = CV_TR("Help");

void addMenuItem(const QString &english, void (*show)())
{
    State &s = state();
    CMainWindowDelegate *window = s.host.window();
    if (!window)
        return;
    QMenu *menu = window->menuFor(kHelpMenu);
    for (const QPointer<QAction> &existing : s.actions) {
        if (existing && cvSourceOf(existing) == english)
            return;
    }
    QAction *action = cvAddSourceAction(menu, english);
    QObject::connect(action, &QAction::triggered, show);
    s.actions.append(action);
}

void showUpdate()
{
    State &s = state();
    if (!s.update)
        s.update = new UpdatePage(&s.host);
    s.host.showPage(s.update);
}

void showAgreement()
{
    State &s = state();
    if (!s.agreement) {
        s.agreement = new LegalPage(
            CV_TR("User agreement"),
            {CV_TR("Corvane Connect is provided to help you set up and use your Corvane devices."),
             CV_TR("You may use it on every computer you connect these devices to."),
             CV_TR("The software is provided as it is, without any warranty.")});
    }
    s.host.showPage(s.agreement);
}

void showPrivacy()
{
    State &s = state();
    if (!s.privacy) {
        s.privacy = new LegalPage(
            CV_TR("Privacy policy"),
            {CV_TR("Corvane Connect keeps its settings and logs on this computer only."),
             CV_TR("Feedback you write stays on this computer. Nothing is sent without your consent.")});
    }
    s.host.showPage(s.privacy);
}
} // namespace

bool SWUI_Init(CMainWindowDelegate *window, CMessageBoxDelegate *msgBox, CSettingDelegate *setting)
{
    MODULE_TRACE();
    State &s = state();
    if (!s.host.initialised())
        s.host.set(window, msgBox, setting);
    return true;
}

void SWUI_InitSoftCheckUpdateMenuItem()
{
    MODULE_TRACE();
    addMenuItem(CV_TR("Check for updates"), showUpdate);
}

void SWUI_InitUserAgreementMenuItem()
{
    MODULE_TRACE();
    addMenuItem(CV_TR("User agreement"), showAgreement);
}

void SWUI_InitPrivacyPolicyMenuItem()
{
    MODULE_TRACE();
    addMenuItem(CV_TR("Privacy policy"), showPrivacy);
}

void SWUI_UnInit()
{
    MODULE_TRACE();
    State &s = state();
    for (const QPointer<QAction> &action : s.actions)
        delete action.data();
    s.actions.clear();
    delete s.update.data();
    delete s.agreement.data();
    delete s.privacy.data();
    s.host.clear();
}
