#pragma once

#include <string>

// The user's profile file, <app-data root>/Config/UserData.ini.
class UserProfile
{
public:
    static std::string path();
    static std::string read(const std::string &section, const std::string &key,
                            const std::string &defaultValue);
    // Creates the folder when missing; false when the value could not be stored.
    static bool write(const std::string &section, const std::string &key, const std::string &value);
};
