#include "chRegKey.h"

#include "RegistryStore.h"
#include "RegistryWatcher.h"

chRegKey::chRegKey() = default;

chRegKey::~chRegKey()
{
    // The watcher keeps a pointer to this key while anyone listens to it.
    if (RegistryWatcher *watcher = RegistryWatcher::existing()) {
        watcher->unlisten(*this, nullptr);
    }
}

bool chRegKey::OpenKey(const std::string &file, const std::string &section, const std::string &key)
{
    if (!RegistryStore::validFileName(file) || key.empty()) {
        m_open = false;
        return false;
    }
    if (RegistryWatcher *watcher = RegistryWatcher::existing()) {
        watcher->unlisten(*this, nullptr);
    }
    m_file = file;
    m_section = section;
    m_key = key;
    m_open = true;
    return true;
}

int chRegKey::GetIntValue(int defaultValue) const
{
    int value = 0;
    return m_open && RegistryStore::lookupInt(m_file, m_section, m_key, value) ? value : defaultValue;
}

std::string chRegKey::GetStringValue(const std::string &defaultValue) const
{
    std::string value;
    return m_open && RegistryStore::lookup(m_file, m_section, m_key, value) ? value : defaultValue;
}
