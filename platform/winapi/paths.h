#pragma once

#include <string>

namespace winapi {

std::string executablePath();
std::string executableFolder();
bool exists(const std::string &path);

} // namespace winapi
