#include "SoftPhoneSettingUi.h"

#include "ModuleTrace.h"
#include "SettingsPageModule.h"
#include "SoftPhonePage.h"

namespace {
SettingsPageModule<SoftPhonePage> &module()
{
    static SettingsPageModule<SoftPhonePage> instance([](ModuleHost *) { return new SoftPhonePage(); },
                                                      CV_TR("Soft phone"), CV_TR("Soft phone settings"));
    return instance;
}
} // namespace

bool SOFTPHONESETTINGUI_Init(CMainWindowDelegate *window, CMessageBoxDelegate *msgBox,
                             CSettingDelegate *setting)
{
    MODULE_TRACE();
    return module().init(window, msgBox, setting);
}

void SoftPhoneSettingUI_InitSoftPhoneSettingMenuItem()
{
    MODULE_TRACE();
    module().initMenuItem();
}

void SOFTPHONESETTINGUI_UnInit()
{
    MODULE_TRACE();
    module().uninit();
}
