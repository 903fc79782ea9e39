#pragma once

class CMainWindowDelegate;
class CSettingDelegate;

bool Setting_Init(CMainWindowDelegate *window);
CSettingDelegate *Setting_GetDelegate();
void Setting_ShowSetting(int page, int subPage);
void Setting_ShowSettingAbout(int page, int subPage);
void Setting_Uninit();
