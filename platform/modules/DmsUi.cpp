#include "DmsUi.h"

#include "DmsPage.h"
#include "ModuleTrace.h"
#include "SettingsPageModule.h"

namespace {
SettingsPageModule<DmsPage> &module()
{
    static SettingsPageModule<DmsPage> instance([](ModuleHost *host) { return new DmsPage(host); },
                                                CV_TR("Device management"), CV_TR("Device management"));
    return instance;
}
} // namespace

bool DMSUI_Init(CMainWindowDelegate *window, CMessageBoxDelegate *msgBox, CSettingDelegate *setting)
{
    MODULE_TRACE();
    return module().init(window, msgBox, setting);
}

void DMSUI_InitDmMangageMenuItem()
{
    MODULE_TRACE();
    module().initMenuItem();
}

void DMSUI_UnInit()
{
    MODULE_TRACE();
    module().uninit();
}
