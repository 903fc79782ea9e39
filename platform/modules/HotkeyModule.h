#pragma once

bool HotkeyModule_Init();
