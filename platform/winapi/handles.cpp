#include "HandleTable.h"
#include "WinHandle.h"
#include "winapi.h"

#include <unistd.h>

using namespace winapi;

BOOL CloseHandle(HANDLE handle)
{
    WinHandle *object = takeHandle(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (object->kind == HandleKind::Mapping) {
        object->fd.reset();
        if (!object->name.empty()) {
            unlink(object->name.c_str());
        }
    }
    // A process handle only drops its share of the state; the reaper thread keeps the rest.
    delete object;
    return TRUE;
}
