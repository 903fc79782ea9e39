#pragma once

#include "winapi.h"

namespace winapi {

DWORD errorFromErrno(int error);

} // namespace winapi
