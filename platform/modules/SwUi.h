#pragma once

class CMainWindowDelegate;
class CMessageBoxDelegate;
class CSettingDelegate;

bool SWUI_Init(CMainWindowDelegate *window, CMessageBoxDelegate *msgBox, CSettingDelegate *setting);
void SWUI_InitSoftCheckUpdateMenuItem();
void SWUI_InitUserAgreementMenuItem();
void SWUI_InitPrivacyPolicyMenuItem();
void SWUI_UnInit();
