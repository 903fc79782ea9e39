#include "WaylandModule.h"

#include "ETLLib.h"
#include "WaylandActivation.h"
#include "WaylandModuleApi.h"

#include <dlfcn.h>

#include <string>

namespace {

const char kTagW[] = "W:WaylandModule";
const char kFileName[] = "libtarn-wayland.so";

const WaylandModuleApi *load()
{
    const std::string exe = etlGetExeFileName();
    const std::string path = exe.substr(0, exe.rfind('/') + 1) + kFileName;
    // Never closed: the menu overlay and its callbacks live in it until the process ends.
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char *why = dlerror();
        etlModuleTrace(4, kTagW, "%s cannot be opened (%s); no activation or menu at the pointer on Wayland",
                       path.c_str(), why ? why : "unknown");
        return nullptr;
    }
    const auto entry = reinterpret_cast<const WaylandModuleApi *(*)()>(dlsym(handle, "tarnWaylandModuleApi"));
    const WaylandModuleApi *api = entry ? entry() : nullptr;
    if (!api || api->version != WaylandModuleApi::kVersion) {
        etlModuleTrace(4, kTagW, "%s is not this program's Wayland module; not used", path.c_str());
        dlclose(handle);
        return nullptr;
    }
    return api;
}

} // namespace

const WaylandModuleApi *WaylandModule::api()
{
    if (!WaylandActivation::isWayland())
        return nullptr;
    static const WaylandModuleApi *const loaded = load();
    return loaded;
}
