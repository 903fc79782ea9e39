#pragma once

bool NotificationMgr_Init();
void NotificationMgr_UnInit();
