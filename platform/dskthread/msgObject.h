#pragma once

#include <cstdint>
#include <string>

// An in-house message: its number and two parameters, plus an optional payload.
class msgObject
{
public:
    msgObject() = default;
    msgObject(uint32_t message, uint32_t wParam = 0, int64_t lParam = 0) : message(message), wParam(wParam), lParam(lParam) {}

    uint32_t message = 0;
    uint32_t wParam = 0;
    int64_t lParam = 0;
    std::string data;
};
