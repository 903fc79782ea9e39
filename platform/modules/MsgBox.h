#pragma once

class CMainWindowDelegate;
class CMessageBoxDelegate;

bool MsgBox_Init(CMainWindowDelegate *window);
CMessageBoxDelegate *MsgBox_GetDelegate();
void MsgBox_Uninit();
