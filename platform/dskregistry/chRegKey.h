#pragma once

#include <string>

// Designates one configuration value by file, section and key.
class chRegKey
{
public:
    chRegKey();
    ~chRegKey();

    // Opening another value ends any listening to the previous one. False for an empty key or a file name
    // that is absolute or climbs out of its folder.
    bool OpenKey(const std::string &file, const std::string &section, const std::string &key);
    bool IsOpen() const { return m_open; }
    int GetIntValue(int defaultValue) const;
    std::string GetStringValue(const std::string &defaultValue) const;

    const std::string &file() const { return m_file; }
    const std::string &section() const { return m_section; }
    const std::string &key() const { return m_key; }

    chRegKey(const chRegKey &) = delete;
    chRegKey &operator=(const chRegKey &) = delete;

private:
    bool m_open = false;
    std::string m_file;
    std::string m_section;
    std::string m_key;
};
