#pragma once

bool NotificationMgr_Init();
void NotificationMgr_UnInit();

class QString;

// Records a notification while the manager is up; false before NotificationMgr_Init.
bool NotificationMgr_Post(const QString &title, const QString &text);
int NotificationMgr_Count();
