#pragma once

#include <string>

void UsbDev_SetPath(const std::string &configPath, const std::string &dataPath);
bool UsbDev_Init(const std::string &name, bool start);
void UsbDev_UnInit();
