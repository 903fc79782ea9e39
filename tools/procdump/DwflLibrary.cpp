#include "DwflLibrary.h"

#include <dlfcn.h>

namespace {
const char kLibrary[] = "libdw.so.1";
}

const DwflLibrary *DwflLibrary::get(std::string *error)
{
    static DwflLibrary library;
    static bool loaded = false;
    if (loaded)
        return &library;
    void *handle = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char *why = dlerror();
        *error = std::string(kLibrary) + " cannot be loaded: " + (why != nullptr ? why : "unknown");
        return nullptr;
    }
    DwflLibrary candidate;
    bool complete = true;
#define TARN_DWFL_RESOLVE(name)                                                                              \
    candidate.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));                              \
    if (candidate.name == nullptr && complete) {                                                             \
        complete = false;                                                                                    \
        *error = std::string(kLibrary) + " has no " #name;                                                   \
    }
    TARN_DWFL_FUNCTIONS(TARN_DWFL_RESOLVE)
#undef TARN_DWFL_RESOLVE
    if (!complete) {
        dlclose(handle);
        return nullptr;
    }
    // The handle stays open for the life of the process: the functions and callbacks live in it.
    library = candidate;
    loaded = true;
    return &library;
}
