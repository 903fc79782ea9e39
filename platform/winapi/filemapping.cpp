#include "HandleTable.h"
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
    std::string shmName;
    UniqueFd fd;
    bool existed = false;
    if (name && *name) {
        // One path component below /dev/shm; anything else could reach outside it.
        if (strchr(name, '/') || strlen(name) > 250) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        shmName = std::string("/") + name;
        const int access = protect == PAGE_READWRITE ? O_RDWR : O_RDONLY;
        for (int attempt = 0; attempt < 8 && !fd.isValid(); ++attempt) {
            fd.reset(shm_open(shmName.c_str(), access | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
            if (fd.isValid()) {
                existed = false;
                break;
            }
            if (errno != EEXIST) {
                break;
            }
            fd.reset(shm_open(shmName.c_str(), access | O_CLOEXEC, 0));
            if (fd.isValid()) {
                existed = true;
            } else if (errno != ENOENT) {
                break; // removed in between: try to create it again
            }
        }
        if (!fd.isValid()) {
            SetLastError(errorFromErrno(errno));
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
        // An object of another user in the shared namespace is never ours to use.
        if (info.st_uid != geteuid()) {
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
            if (!existed && !shmName.empty()) {
                shm_unlink(shmName.c_str());
            }
            SetLastError(errorFromErrno(error));
            return nullptr;
        }
    }
    WinHandle *handle = new WinHandle(HandleKind::Mapping);
    handle->fd = std::move(fd);
    handle->name = shmName;
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
