#include "errors.h"
#include "paths.h"
#include "winapi.h"

#include <dlfcn.h>
#include <strings.h>

#include <cstring>
#include <string>

using namespace winapi;

HMODULE LoadLibraryA(LPCSTR name)
{
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string file = name;
    for (char &c : file) {
        if (c == '\\') {
            c = '/';
        }
    }
    void *library = nullptr;
    if (file.find('/') != std::string::npos) {
        library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    } else {
        const size_t dot = file.rfind('.');
        if (dot != std::string::npos && strcasecmp(file.c_str() + dot, ".dll") == 0) {
            file = "lib" + file.substr(0, dot) + ".so";
        }
        const std::string beside = executableFolder() + "/" + file;
        if (exists(beside)) {
            library = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
        }
        if (!library) {
            library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        }
    }
    if (!library) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return library;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    if (!module || !name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    dlerror();
    void *symbol = dlsym(module, name);
    if (!symbol) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    FARPROC function;
    static_assert(sizeof(function) == sizeof(symbol), "function and data pointers differ in size");
    memcpy(&function, &symbol, sizeof(function));
    return function;
}

BOOL FreeLibrary(HMODULE module)
{
    if (!module || dlclose(module) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
