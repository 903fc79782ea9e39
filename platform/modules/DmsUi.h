#pragma once

class CMainWindowDelegate;
class CMessageBoxDelegate;
class CSettingDelegate;

bool DMSUI_Init(CMainWindowDelegate *window, CMessageBoxDelegate *msgBox, CSettingDelegate *setting);
void DMSUI_InitDmMangageMenuItem();
void DMSUI_UnInit();
