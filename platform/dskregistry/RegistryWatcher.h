#pragma once

#include "UniqueFd.h"
#include "chMessageHandler.h"

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class chRegKey;

// One thread for every listened configuration key. Twice a second it compares the identity, size and
// times of the user's and the installation's copies of the listened files, re-reads the listened values
// once a changed file has been quiet for a moment, and posts a message to a key's handler when its value
// changed. Polling rather than inotify: the files are tiny, a folder created or a file replaced later
// needs no re-arming, network file systems work alike, and an inotify instance makes the process wait
// for a kernel grace period (tens of milliseconds) when it is closed at exit.
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

    static constexpr int kPollMs = 500;
    // A changed file is read once it has not changed for this long, or after kSettleMaxMs at the latest,
    // so a half-written file is rarely reported.
    static constexpr int kSettleMs = 40;
    static constexpr int kSettleMaxMs = 250;

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
    // What the listened files look like now: one entry per copy (user's, installation's) of each file.
    std::map<std::string, std::string> fileSignatures();
    void recheck();

    std::mutex m_mutex;
    std::vector<Listener> m_listeners;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    UniqueFd m_wakeFd;

    static std::atomic<RegistryWatcher *> s_instance;
};
