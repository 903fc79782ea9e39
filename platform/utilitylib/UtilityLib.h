#pragma once

#include <string>

// The product version this build carries.
std::string GetProductVersion();
