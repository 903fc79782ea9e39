#include "CAppServiceInit.h"

#include "ServiceModule.h"

#include <string>

namespace Main_APP {

CAppServiceInit::CAppServiceInit() = default;

CAppServiceInit::~CAppServiceInit()
{
    UnloadServices();
}

void CAppServiceInit::AddService(const char *name)
{
    ServiceModule *module = new ServiceModule();
    // A module that fails to load stays listed so that shutdown destroys it like the others.
    module->LoadService(std::string(name ? name : ""), false);
    m_services.push_back(module);
}

void CAppServiceInit::UnloadServices()
{
    while (!m_services.empty()) {
        ServiceModule *module = m_services.back();
        m_services.pop_back();
        delete module;
    }
}

} // namespace Main_APP
