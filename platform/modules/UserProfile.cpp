#include "UserProfile.h"

#include "ETLLib.h"
#include "dskregistry.h"

std::string UserProfile::path()
{
    return etlGetAppDataRootPath() + "/Config/UserData.ini";
}

std::string UserProfile::read(const std::string &section, const std::string &key,
                              const std::string &defaultValue)
{
    return etlGetProfileString(path(), section, key, defaultValue);
}

bool UserProfile::write(const std::string &section, const std::string &key, const std::string &value)
{
    pathCreateDirectory(etlGetAppDataRootPath() + "/Config");
    if (etlSetProfileString(path(), section, key, value))
        return true;
    etlModuleTrace(4, "W:Modules", "cannot store %s/%s in the profile", section.c_str(), key.c_str());
    return false;
}
