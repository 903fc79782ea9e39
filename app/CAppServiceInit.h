#pragma once

#include <list>

class ServiceModule;

namespace Main_APP {

// Loads the service modules in order and unloads them last first.
class CAppServiceInit
{
public:
    CAppServiceInit();
    virtual ~CAppServiceInit();

    void AddService(const char *name);
    void UnloadServices();
    const std::list<ServiceModule *> &services() const { return m_services; }

    CAppServiceInit(const CAppServiceInit &) = delete;
    CAppServiceInit &operator=(const CAppServiceInit &) = delete;

private:
    std::list<ServiceModule *> m_services;
};

} // namespace Main_APP
