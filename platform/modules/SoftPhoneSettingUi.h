#pragma once

class CMainWindowDelegate;
class CMessageBoxDelegate;
class CSettingDelegate;

bool SOFTPHONESETTINGUI_Init(CMainWindowDelegate *window, CMessageBoxDelegate *msgBox,
                             CSettingDelegate *setting);
void SoftPhoneSettingUI_InitSoftPhoneSettingMenuItem();
// Releases the page and menu entry; the program itself never calls it.
void SOFTPHONESETTINGUI_UnInit();
