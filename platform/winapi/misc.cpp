#include "UniqueFd.h"
#include "winapi.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

BOOL IsDebuggerPresent()
{
    const UniqueFd fd(open("/proc/self/status", O_RDONLY | O_CLOEXEC));
    if (!fd.isValid()) {
        return FALSE;
    }
    char buffer[4096];
    size_t used = 0;
    ssize_t got;
    while (used < sizeof(buffer) - 1 &&
           (got = read(fd.get(), buffer + used, sizeof(buffer) - 1 - used)) > 0) {
        used += static_cast<size_t>(got);
    }
    buffer[used] = '\0';
    const char *field = strstr(buffer, "\nTracerPid:");
    if (!field) {
        return FALSE;
    }
    return strtol(field + strlen("\nTracerPid:"), nullptr, 10) != 0 ? TRUE : FALSE;
}

BOOL SHGetSpecialFolderPathA(HWND, LPSTR path, int csidl, BOOL)
{
    if (!path || (csidl & 0xff) != CSIDL_SYSTEMX86) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const char *folder = getenv("TARN_SYSTEMX86_DIR");
    if (!folder || !*folder) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    const size_t length = strlen(folder);
    if (length >= MAX_PATH) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(path, folder, length + 1);
    return TRUE;
}
