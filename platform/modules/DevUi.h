#pragma once

#include <string>

class CMainWindowDelegate;
class CMessageBoxDelegate;
class CSettingDelegate;

bool DEVUI_Init(CMainWindowDelegate *window, CMessageBoxDelegate *msgBox, CSettingDelegate *setting);
void DEVUI_SetDataPath(const std::string &dataPath);
void DEVUI_OnShowDefaultContent();
void DEVUI_UnInit();
