#pragma once

#include "chMessageHandler.h"

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class chRegKey;
struct stat;

// One thread for every listened configuration key. It sleeps until the kernel reports a change in a
// folder that holds (or will hold) the user's or the installation's copy of a listened file, re-reads the
// listened values once the folder has been quiet for a moment, and posts a message to a key's handler
// when its value changed.
//
// Folders are watched with directory notification (fcntl F_NOTIFY), which signals this thread alone,
// rather than with inotify: closing an inotify instance, which every exit does, makes the process wait
// for a kernel grace period of tens of milliseconds, while a directory notification ends without waiting.
// For each file the deepest existing folder on its path is watched, and that folder's parent too, so a
// folder created, removed or replaced later is noticed and watched in turn. Where the file system
// refuses notification, the files' identity, size and times are compared twice a second instead.
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
    // Ends the watching thread until the next listen: once this returns, no file is read and no change
    // is posted. The listeners stay registered.
    void stopWatching();

    // Only where a folder cannot be watched.
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

    struct WatchedFolder
    {
        int fd;
        dev_t device;
        ino_t inode;
    };

    bool startThread();
    void run();
    void wake();
    // Every copy (user's, installation's) of every listened file.
    std::vector<std::string> listenedPaths();
    // What the listened files look like now: one entry per copy.
    std::map<std::string, std::string> fileSignatures();
    // Watches the folders the listened paths need now and lets go of the others; false when a folder
    // could not be watched.
    bool rearm();
    bool watchFolder(const std::string &path, const struct stat &info);
    void closeFolders();
    // Consumes what is pending on the thread's notification descriptor; true when anything was.
    bool drainNotifications();
    void recheck();

    std::mutex m_mutex;
    std::vector<Listener> m_listeners;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    // Set while stopWatching joins the thread; no new thread starts meanwhile.
    bool m_stopping = false;
    int m_wakeFd = -1;
    // Used by the watcher thread only.
    int m_signalFd = -1;
    std::map<std::string, WatchedFolder> m_folders;

    static std::atomic<RegistryWatcher *> s_instance;
};
