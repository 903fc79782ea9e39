#pragma once

#include <memory>
#include <string>

// Registers processes under names through file locks in the runtime folder, which the kernel releases
// when a process dies.
class wAppLauncher
{
public:
    static wAppLauncher *getInstance();

    // Registers this process under the name; 1 when no other live process was registered under it.
    int startApp(const std::string &name);
    // Live processes registered under the name, this one included.
    int getExistAppCount(const std::string &name);
    // Raises the top-level window of the process registered under the name; true when it was asked to.
    bool bringAppToTop(const std::string &name);
    void setAppMainExitFlag();
    bool exitFlag() const;
    // True while this process holds a registration under any name.
    bool isRegistered() const;

    wAppLauncher(const wAppLauncher &) = delete;
    wAppLauncher &operator=(const wAppLauncher &) = delete;

private:
    wAppLauncher();
    ~wAppLauncher();
    struct Private;
    std::unique_ptr<Private> d;
};
