#include "GlobalConfigTigger.h"

#include "ETLLib.h"
#include "dskregistry.h"

#include <atomic>

namespace {
std::atomic<bool> g_listening{false};
}

// Individual values are listened to by the components that use them (see registryListenKey); this
// switch only marks the span of the event loop in which they may react.
void GlobalConfigTigger::listen()
{
    if (!g_listening.exchange(true)) {
        etlModuleTrace(6, "I:UICommon", "global configuration listening on");
    }
}

void GlobalConfigTigger::unlisten()
{
    if (g_listening.exchange(false)) {
        etlModuleTrace(6, "I:UICommon", "global configuration listening off");
    }
    // Past the event loop nobody can take a change any more, and a file read then would trace after the
    // program's last line.
    registryStopWatching();
}

bool GlobalConfigTigger::isListening()
{
    return g_listening.load();
}
