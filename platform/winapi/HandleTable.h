#pragma once

#include "winapi.h"

#include <sys/types.h>

#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace winapi {

struct WinHandle;

struct HandleTable
{
    std::mutex mutex;
    std::set<WinHandle *> handles;        // live handles, so a stale or foreign pointer is refused
    std::map<const void *, size_t> views; // base -> length of each mapped view
    std::vector<pid_t> unreapedChildren;  // children whose reaper thread could not be started
};

HandleTable &table();
HANDLE registerHandle(WinHandle *handle);
// Removes the handle from the live set; the caller owns the object afterwards.
WinHandle *takeHandle(HANDLE handle);

} // namespace winapi
