#include "ServiceModule.h"

#include "ETLLib.h"
#include "winapi.h"

ServiceModule::ServiceModule() = default;

ServiceModule::~ServiceModule()
{
    if (!m_library) {
        return;
    }
    if (m_stop) {
        m_stop();
    }
    FreeLibrary(static_cast<HMODULE>(m_library));
}

// The flag is kept for callers written against the original interface; it selects nothing here.
bool ServiceModule::LoadService(const std::string &name, bool)
{
    if (m_library) {
        etlModuleTrace(4, "W:Service", "service %s already loaded, %s refused", m_name.c_str(), name.c_str());
        return false;
    }
    m_name = name;
    HMODULE library = LoadLibraryA(name.c_str());
    if (!library) {
        etlModuleTrace(4, "W:Service", "load service %s fail, error %lu", name.c_str(),
                       static_cast<unsigned long>(GetLastError()));
        return false;
    }
    auto start = reinterpret_cast<int (*)()>(GetProcAddress(library, "ServiceStart"));
    auto stop = reinterpret_cast<void (*)()>(GetProcAddress(library, "ServiceStop"));
    if (!start || !stop) {
        etlModuleTrace(4, "W:Service", "service %s lacks ServiceStart or ServiceStop", name.c_str());
        FreeLibrary(library);
        return false;
    }
    const int result = start();
    if (result != 0) {
        // A module that did not start is not stopped later either.
        etlModuleTrace(4, "W:Service", "service %s start fail, result %d", name.c_str(), result);
        FreeLibrary(library);
        return false;
    }
    m_library = library;
    m_stop = stop;
    return true;
}

bool ServiceModule::IsLoaded() const
{
    return m_library != nullptr;
}

const std::string &ServiceModule::name() const
{
    return m_name;
}
