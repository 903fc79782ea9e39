#pragma once

#include <string>

// Where a configuration file's values come from: the user's copy below the app-data root first, then the
// copy shipped in the installation's config folder.
class RegistryStore
{
public:
    static std::string userFile(const std::string &file);
    static std::string installFile(const std::string &file);
    // The text value by the override rule; false when neither copy has the key.
    static bool lookup(const std::string &file, const std::string &section, const std::string &key,
                       std::string &value);
    // The integer value by the override rule; a copy whose value is no whole decimal int counts as
    // lacking the key.
    static bool lookupInt(const std::string &file, const std::string &section, const std::string &key,
                          int &value);
    // Strict decimal: optional sign, digits only, within int's range.
    static bool parseInt(const std::string &text, int &value);
    // Plain relative names only ("system.ini", "sub/x.ini"); no absolute paths, no "..".
    static bool validFileName(const std::string &file);
};
