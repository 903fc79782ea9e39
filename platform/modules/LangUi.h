#pragma once

class CMainWindowDelegate;
class CMessageBoxDelegate;
class CSettingDelegate;

bool LANGUI_Init(CMainWindowDelegate *window, CMessageBoxDelegate *msgBox, CSettingDelegate *setting);
void LangUi_InitLangeConfigMenuItem();
