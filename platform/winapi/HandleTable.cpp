#include "HandleTable.h"

#include "WinHandle.h"

namespace winapi {

// Never destroyed, so handles can still be closed from destructors that run at exit.
HandleTable &table()
{
    static HandleTable *handles = new HandleTable();
    return *handles;
}

HANDLE registerHandle(WinHandle *handle)
{
    std::lock_guard<std::mutex> lock(table().mutex);
    table().handles.insert(handle);
    return handle;
}

WinHandle *takeHandle(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(table().mutex);
    auto it = table().handles.find(static_cast<WinHandle *>(handle));
    if (it == table().handles.end()) {
        return nullptr;
    }
    WinHandle *object = *it;
    table().handles.erase(it);
    return object;
}

} // namespace winapi
