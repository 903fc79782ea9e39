#include "HandleTable.h"
#include "RuntimeLocation.h"
#include "UniqueFd.h"
#include "WinHandle.h"
#include "errors.h"
#include "winapi.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

using namespace winapi;

HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCSTR name)
{
    const uint64_t size = (static_cast<uint64_t>(maximumSizeHigh) << 32) | maximumSizeLow;
    // Only paging-file backed mappings exist here, and they need a size.
    if (file != INVALID_HANDLE_VALUE || size == 0 || size > static_cast<uint64_t>(INT64_MAX) ||
        (protect != PAGE_READWRITE && protect != PAGE_READONLY)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path;
    UniqueFd fd;
    bool existed = false;
    if (name && *name) {
        // A named mapping lives in this user's private runtime folder, as it would live in the user's own
        // session namespace: no other account can create or squat the name there.
        path = RuntimeLocation::objectPath(name);
        if (path.empty()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (RuntimeLocation::ensure(nullptr).empty()) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return nullptr;
        }
        const int access = protect == PAGE_READWRITE ? O_RDWR : O_RDONLY;
        for (int attempt = 0; attempt < 8 && !fd.isValid(); ++attempt) {
            fd.reset(open(path.c_str(), access | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
            if (fd.isValid()) {
                existed = false;
                break;
            }
            if (errno != EEXIST) {
                break;
            }
            // O_NONBLOCK: whatever sits at the name must not hold the open; only a regular file is used.
            fd.reset(open(path.c_str(), access | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK));
            if (fd.isValid()) {
                existed = true;
            } else if (errno != ENOENT) {
                break; // removed in between: try to create it again
            }
        }
        if (!fd.isValid()) {
            // A link, a folder or a device at the name: something other than this user's object has it.
            const bool foreign = errno == ELOOP || errno == EISDIR || errno == ENXIO || errno == ENODEV;
            SetLastError(foreign ? ERROR_ACCESS_DENIED : errorFromErrno(errno));
            return nullptr;
        }
    } else {
        fd.reset(memfd_create("mapping", MFD_CLOEXEC));
        if (!fd.isValid()) {
            SetLastError(errorFromErrno(errno));
            return nullptr;
        }
    }
    struct stat info;
    if (fstat(fd.get(), &info) != 0) {
        SetLastError(errorFromErrno(errno));
        return nullptr;
    }
    if (existed) {
        // Something that is not a plain object of this user is never ours to use.
        if (!S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        if ((info.st_mode & 077) != 0) {
            fchmod(fd.get(), 0600);
        }
    }
    if (static_cast<uint64_t>(info.st_size) < size) {
        if (protect != PAGE_READWRITE || ftruncate(fd.get(), static_cast<off_t>(size)) != 0) {
            const int error = protect != PAGE_READWRITE ? EACCES : errno;
            fd.reset();
            if (!existed && !path.empty()) {
                unlink(path.c_str());
            }
            SetLastError(errorFromErrno(error));
            return nullptr;
        }
    }
    WinHandle *handle = new WinHandle(HandleKind::Mapping);
    handle->fd = std::move(fd);
    handle->name = path;
    handle->size = std::max<uint64_t>(size, static_cast<uint64_t>(info.st_size));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return registerHandle(handle);
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow, size_t bytes)
{
    int fd = -1;
    uint64_t size = 0;
    {
        std::lock_guard<std::mutex> lock(table().mutex);
        auto it = table().handles.find(static_cast<WinHandle *>(mapping));
        if (it == table().handles.end() || (*it)->kind != HandleKind::Mapping) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        fd = (*it)->fd.get();
        size = (*it)->size;
    }
    const uint64_t offset = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
    if (offset >= size || offset % static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) != 0 ||
        bytes > size - offset) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const size_t length = bytes ? bytes : static_cast<size_t>(size - offset);
    const int protection = (desiredAccess & (FILE_MAP_WRITE | FILE_MAP_ALL_ACCESS)) == FILE_MAP_READ
                               ? PROT_READ
                               : PROT_READ | PROT_WRITE;
    void *base = mmap(nullptr, length, protection, MAP_SHARED, fd, static_cast<off_t>(offset));
    if (base == MAP_FAILED) {
        SetLastError(errorFromErrno(errno));
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(table().mutex);
    table().views[base] = length;
    return base;
}

BOOL UnmapViewOfFile(LPCVOID base)
{
    size_t length = 0;
    {
        std::lock_guard<std::mutex> lock(table().mutex);
        auto it = table().views.find(base);
        if (it == table().views.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        length = it->second;
        table().views.erase(it);
    }
    munmap(const_cast<void *>(base), length);
    return TRUE;
}
