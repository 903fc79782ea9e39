#include "MsgBox.h"

#include "CMainWindowDelegate.h"
#include "MessageBoxDelegate.h"
#include "ModuleTrace.h"

namespace {
MessageBoxDelegate &delegate()
{
    // Lives for the process: modules keep the pointer they were given.
    static MessageBoxDelegate instance;
    return instance;
}
} // namespace

bool MsgBox_Init(CMainWindowDelegate *window)
{
    MODULE_TRACE();
    delegate().setParentWindow(window ? window->windowWidget() : nullptr);
    delegate().setActive(true);
    return true;
}

CMessageBoxDelegate *MsgBox_GetDelegate()
{
    MODULE_TRACE();
    return delegate().active() ? &delegate() : nullptr;
}

void MsgBox_Uninit()
{
    MODULE_TRACE();
    delegate().closeAll();
    delegate().setActive(false);
    delegate().setParentWindow(nullptr);
}
