#include "LangUi.h"

#include "LanguagePage.h"
#include "ModuleTrace.h"
#include "SettingsPageModule.h"

namespace {
SettingsPageModule<LanguagePage> &module()
{
    static SettingsPageModule<LanguagePage> instance([](ModuleHost *host) { return new LanguagePage(host); },
                                                     CV_TR("Language"), CV_TR("Language settings"));
    return instance;
}
} // namespace

bool LANGUI_Init(CMainWindowDelegate *window, CMessageBoxDelegate *msgBox, CSettingDelegate *setting)
{
    MODULE_TRACE();
    return module().init(window, msgBox, setting);
}

void LangUi_InitLangeConfigMenuItem()
{
    MODULE_TRACE();
    module().initMenuItem();
}

void LANGUI_UnInit()
{
    MODULE_TRACE();
    module().uninit();
}
