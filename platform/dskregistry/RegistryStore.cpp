#include "RegistryStore.h"

#include "ETLLib.h"
#include "IniFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

std::string RegistryStore::userFile(const std::string &file)
{
    return etlGetAppDataRootPath() + "/" + file;
}

std::string RegistryStore::installFile(const std::string &file)
{
    return etlGetAppRootPath() + "/config/" + file;
}

bool RegistryStore::validFileName(const std::string &file)
{
    if (file.empty() || file[0] == '/') {
        return false;
    }
    size_t start = 0;
    while (start <= file.size()) {
        size_t end = file.find('/', start);
        if (end == std::string::npos) {
            end = file.size();
        }
        const std::string part = file.substr(start, end - start);
        if (part.empty() || part == "..") {
            return false;
        }
        start = end + 1;
    }
    return file.find('\0') == std::string::npos;
}

bool RegistryStore::lookup(const std::string &file, const std::string &section, const std::string &key,
                           std::string &value)
{
    if (!validFileName(file)) {
        return false;
    }
    return IniFile::find(userFile(file), section, key, value) ||
           IniFile::find(installFile(file), section, key, value);
}

bool RegistryStore::lookupInt(const std::string &file, const std::string &section, const std::string &key,
                              int &value)
{
    if (!validFileName(file)) {
        return false;
    }
    std::string text;
    if (IniFile::find(userFile(file), section, key, text) && parseInt(text, value)) {
        return true;
    }
    return IniFile::find(installFile(file), section, key, text) && parseInt(text, value);
}

bool RegistryStore::parseInt(const std::string &text, int &value)
{
    size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        ++i;
    }
    if (i == text.size()) {
        return false;
    }
    for (size_t j = i; j < text.size(); ++j) {
        if (text[j] < '0' || text[j] > '9') {
            return false;
        }
    }
    errno = 0;
    char *end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) {
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}
