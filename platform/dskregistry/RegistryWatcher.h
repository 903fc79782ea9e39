#pragma once

#include "chMessageHandler.h"

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class chRegKey;

// One thread for every listened configuration key. It watches, with inotify, the folders that hold the
// user's and the installation's copies (or their nearest existing parent while a folder is missing),
// re-reads the listened values after file events and posts a message to a key's handler when its value
// changed. Watches are re-checked twice a second so folders created or replaced later are picked up.
// Folders that cannot be watched (no inotify, watch limit reached, or TARN_REGISTRY_POLL=1 for network
// file systems) are polled at that rate instead.
class RegistryWatcher
{
public:
    static RegistryWatcher &instance();
    // The watcher when it has been created and is not yet destroyed, else null.
    static RegistryWatcher *existing();

    bool listen(const chRegKey &key, chMessageHandler *handler, chMsgOperation operation);
    // handler null: every listener of the key. True when something was removed.
    bool unlisten(const chRegKey &key, chMessageHandler *handler);
    size_t listenerCount();
    // True while some watched folder is polled rather than watched.
    bool polling() const { return m_polling.load(); }

    RegistryWatcher(const RegistryWatcher &) = delete;
    RegistryWatcher &operator=(const RegistryWatcher &) = delete;

private:
    RegistryWatcher();
    ~RegistryWatcher();

    struct Listener
    {
        const chRegKey *key;
        std::string file;
        std::string section;
        std::string name;
        chMessageHandler *handler;
        chMsgOperation operation;
        bool present;
        std::string value;
    };

    bool startThread();
    void run();
    void wake();
    bool rearm();
    void recheck();
    std::set<std::string> wantedFolders();

    std::mutex m_mutex;
    std::vector<Listener> m_listeners;
    std::map<std::string, int> m_watches;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_polling{false};
    int m_inotify = -1;
    int m_wakeFd = -1;

    static std::atomic<RegistryWatcher *> s_instance;
};
