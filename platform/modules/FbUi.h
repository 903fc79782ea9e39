#pragma once

class CMainWindowDelegate;
class CMessageBoxDelegate;
class CSettingDelegate;

bool FBUI_Init(CMainWindowDelegate *window, CMessageBoxDelegate *msgBox, CSettingDelegate *setting);
void FBUI_InitFeedbackMenuItem();
void FBUI_UnInit();
