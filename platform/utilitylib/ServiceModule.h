#pragma once

#include <string>

// A service module: "X.dll" is libX.so beside the executable (then the library path). Loading calls its
// start entry "ServiceStart"; destruction calls "ServiceStop" and unloads it.
class ServiceModule
{
public:
    ServiceModule();
    ~ServiceModule();

    bool LoadService(const std::string &name, bool flag);
    bool IsLoaded() const;
    const std::string &name() const;

    ServiceModule(const ServiceModule &) = delete;
    ServiceModule &operator=(const ServiceModule &) = delete;

private:
    std::string m_name;
    void *m_library = nullptr;
    void (*m_stop)() = nullptr;
};
