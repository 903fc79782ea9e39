#pragma once

class CMainWindowDelegate;
class CMessageBoxDelegate;
class CSettingDelegate;

bool LANGUI_Init(CMainWindowDelegate *window, CMessageBoxDelegate *msgBox, CSettingDelegate *setting);
void LangUi_InitLangeConfigMenuItem();
// Releases the page and menu entry; the program itself never calls it.
void LANGUI_UnInit();
