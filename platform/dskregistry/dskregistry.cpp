#include "dskregistry.h"

#include "ETLLib.h"
#include "IniFile.h"
#include "RegistryStore.h"
#include "RegistryWatcher.h"
#include "chRegKey.h"
#include "chThreadLocal.h"

std::string etlGetRegistryString(const std::string &file, const std::string &section, const std::string &key,
                                 const std::string &defaultValue)
{
    std::string value;
    return RegistryStore::lookup(file, section, key, value) ? value : defaultValue;
}

int etlGetRegistryInt(const std::string &file, const std::string &section, const std::string &key,
                      int defaultValue)
{
    int value = 0;
    return RegistryStore::lookupInt(file, section, key, value) ? value : defaultValue;
}

std::string etlGetProfileString(const std::string &path, const std::string &section, const std::string &key,
                                const std::string &defaultValue)
{
    std::string value;
    return IniFile::find(path, section, key, value) ? value : defaultValue;
}

bool etlSetProfileString(const std::string &path, const std::string &section, const std::string &key,
                         const std::string &value)
{
    return IniFile::write(path, section, key, value);
}

bool registryListenKey(chRegKey &key, chMessageHandler *handler, chMsgOperation operation)
{
    if (!chThreadLocal::current()) {
        etlModuleTrace(4, "W:dskregistry", "listening to [%s] %s needs a message thread",
                       key.section().c_str(), key.key().c_str());
        return false;
    }
    return RegistryWatcher::instance().listen(key, handler, operation);
}

bool registryUnlistenKey(chRegKey &key, chMessageHandler *handler)
{
    RegistryWatcher *watcher = RegistryWatcher::existing();
    return watcher && handler && watcher->unlisten(key, handler);
}

void registryStopWatching()
{
    if (RegistryWatcher *watcher = RegistryWatcher::existing()) {
        watcher->stopWatching();
    }
}
