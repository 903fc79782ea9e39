#include "UsbDev.h"

#include "ModuleTrace.h"
#include "UsbDeviceScanner.h"

namespace {
struct State
{
    std::string configPath;
    std::string dataPath;
    bool running = false;
};

State &state()
{
    static State instance;
    return instance;
}
} // namespace

void UsbDev_SetPath(const std::string &configPath, const std::string &dataPath)
{
    MODULE_TRACE();
    state().configPath = configPath;
    state().dataPath = dataPath;
}

bool UsbDev_Init(const std::string &name, bool start)
{
    MODULE_TRACE();
    State &s = state();
    if (!start || s.running)
        return true;
    s.running = true;
    const int count = UsbDeviceScanner::scan().size();
    etlModuleTrace(6, "I:UsbDev", "device logic %s started, %d USB devices present", name.c_str(), count);
    return true;
}

void UsbDev_UnInit()
{
    MODULE_TRACE();
    state().running = false;
}
