#include "RegistryWatcher.h"

#include "ETLLib.h"
#include "IniFile.h"
#include "RegistryStore.h"
#include "chRegKey.h"
#include "dskregistry.h"
#include "dskthread.h"
#include "msgObject.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <system_error>

std::atomic<RegistryWatcher *> RegistryWatcher::s_instance{nullptr};

namespace {
// The notification signal goes to the watcher thread alone, which blocks it and takes it from a signalfd.
// When the kernel cannot queue it, it sends SIGIO to the thread instead.
int notificationSignal()
{
    return SIGRTMIN + 6;
}

sigset_t notificationSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, notificationSignal());
    sigaddset(&signals, SIGIO);
    return signals;
}

std::string parentFolder(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return std::string();
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}
} // namespace

RegistryWatcher &RegistryWatcher::instance()
{
    static RegistryWatcher watcher;
    return watcher;
}

RegistryWatcher *RegistryWatcher::existing()
{
    return s_instance.load();
}

RegistryWatcher::RegistryWatcher()
{
    s_instance.store(this);
}

RegistryWatcher::~RegistryWatcher()
{
    s_instance.store(nullptr);
    m_stop.store(true);
    wake();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listeners.clear();
    closeFolders();
    if (m_signalFd >= 0) {
        ::close(m_signalFd);
    }
    if (m_wakeFd >= 0) {
        ::close(m_wakeFd);
    }
}

bool RegistryWatcher::startThread()
{
    if (m_thread.joinable()) {
        return true;
    }
    if (m_stopping) {
        return false;
    }
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd < 0) {
        etlModuleTrace(3, "E:dskregistry", "cannot watch configuration files: %s", std::strerror(errno));
        return false;
    }
    // The thread starts with every signal blocked: signals meant for the process never land on it, and
    // the notification signal waits for its signalfd.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    bool started = true;
    try {
        m_thread = std::thread(&RegistryWatcher::run, this);
    } catch (const std::system_error &error) {
        etlModuleTrace(3, "E:dskregistry", "cannot watch configuration files: %s", error.what());
        ::close(m_wakeFd);
        m_wakeFd = -1;
        started = false;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return started;
}

bool RegistryWatcher::listen(const chRegKey &key, chMessageHandler *handler, chMsgOperation operation)
{
    if (!key.IsOpen() || !handler || !operation) {
        return false;
    }
    Listener listener{&key, key.file(), key.section(), key.key(), handler, operation, false, std::string()};
    listener.present = RegistryStore::lookup(listener.file, listener.section, listener.name, listener.value);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!startThread()) {
            return false;
        }
        for (Listener &l : m_listeners) {
            if (l.key == &key && l.handler == handler) {
                l = listener;
                wake();
                return true;
            }
        }
        m_listeners.push_back(listener);
    }
    wake();
    return true;
}

void RegistryWatcher::stopWatching()
{
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_thread.joinable()) {
            return;
        }
        m_stop.store(true);
        m_stopping = true;
        thread = std::move(m_thread);
    }
    // Not under the lock: the thread takes it to post what it has read.
    wake();
    thread.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    ::close(m_wakeFd);
    m_wakeFd = -1;
    m_stop.store(false);
    m_stopping = false;
}

bool RegistryWatcher::unlisten(const chRegKey &key, chMessageHandler *handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const size_t before = m_listeners.size();
    for (auto it = m_listeners.begin(); it != m_listeners.end();) {
        if (it->key == &key && (!handler || it->handler == handler)) {
            it = m_listeners.erase(it);
        } else {
            ++it;
        }
    }
    return m_listeners.size() != before;
}

size_t RegistryWatcher::listenerCount()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_listeners.size();
}

void RegistryWatcher::wake()
{
    if (m_wakeFd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    }
}

std::vector<std::string> RegistryWatcher::listenedPaths()
{
    std::set<std::string> files;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Listener &l : m_listeners) {
            files.insert(l.file);
        }
    }
    std::vector<std::string> paths;
    for (const std::string &file : files) {
        paths.push_back(RegistryStore::userFile(file));
        paths.push_back(RegistryStore::installFile(file));
    }
    return paths;
}

std::map<std::string, std::string> RegistryWatcher::fileSignatures()
{
    std::map<std::string, std::string> signatures;
    for (const std::string &path : listenedPaths()) {
        signatures[path] = pathSignature(path);
    }
    return signatures;
}

bool RegistryWatcher::watchFolder(const std::string &path, const struct stat &info)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat opened;
    const struct f_owner_ex owner = {F_OWNER_TID, static_cast<pid_t>(syscall(SYS_gettid))};
    if (::fstat(fd, &opened) != 0 || opened.st_dev != info.st_dev || opened.st_ino != info.st_ino ||
        ::fcntl(fd, F_SETOWN_EX, &owner) != 0 || ::fcntl(fd, F_SETSIG, notificationSignal()) != 0 ||
        ::fcntl(fd, F_NOTIFY, DN_MODIFY | DN_CREATE | DN_DELETE | DN_RENAME | DN_ATTRIB | DN_MULTISHOT) !=
            0) {
        ::close(fd);
        return false;
    }
    m_folders[path] = WatchedFolder{fd, info.st_dev, info.st_ino};
    return true;
}

bool RegistryWatcher::rearm()
{
    // Folders first, so a change made while this runs is either seen by the re-read that follows or
    // notified.
    std::map<std::string, struct stat> wanted;
    for (const std::string &path : listenedPaths()) {
        std::string folder = parentFolder(path);
        struct stat info;
        while (!folder.empty() && (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))) {
            folder = parentFolder(folder);
        }
        if (folder.empty()) {
            continue;
        }
        wanted.emplace(folder, info);
        // The parent tells when the folder itself is removed, renamed or replaced.
        const std::string parent = parentFolder(folder);
        if (!parent.empty() && parent != folder && ::stat(parent.c_str(), &info) == 0 &&
            S_ISDIR(info.st_mode)) {
            wanted.emplace(parent, info);
        }
    }
    for (auto it = m_folders.begin(); it != m_folders.end();) {
        const auto want = wanted.find(it->first);
        if (want == wanted.end() || want->second.st_dev != it->second.device ||
            want->second.st_ino != it->second.inode) {
            ::close(it->second.fd);
            it = m_folders.erase(it);
        } else {
            ++it;
        }
    }
    bool all = true;
    for (const auto &want : wanted) {
        if (m_folders.count(want.first) == 0 && !watchFolder(want.first, want.second)) {
            all = false;
        }
    }
    return all;
}

void RegistryWatcher::closeFolders()
{
    for (const auto &folder : m_folders) {
        ::close(folder.second.fd);
    }
    m_folders.clear();
}

bool RegistryWatcher::drainNotifications()
{
    bool any = false;
    struct signalfd_siginfo info[16];
    for (;;) {
        const ssize_t n = ::read(m_signalFd, info, sizeof info);
        if (n <= 0) {
            return any;
        }
        any = true;
    }
}

void RegistryWatcher::recheck()
{
    std::vector<Listener> snapshot;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        snapshot = m_listeners;
    }
    // Files are read without the lock; the result is applied only to listeners that are still there.
    std::vector<std::pair<bool, std::string>> fresh;
    fresh.reserve(snapshot.size());
    for (const Listener &l : snapshot) {
        std::string value;
        const bool present = RegistryStore::lookup(l.file, l.section, l.name, value);
        fresh.emplace_back(present, value);
    }
    // Posting happens under the lock: once unlisten returns, the handler pointer is never used again.
    std::lock_guard<std::mutex> lock(m_mutex);
    for (size_t i = 0; i < snapshot.size(); ++i) {
        for (Listener &l : m_listeners) {
            if (l.key != snapshot[i].key || l.handler != snapshot[i].handler || l.file != snapshot[i].file ||
                l.section != snapshot[i].section || l.name != snapshot[i].name) {
                continue;
            }
            if (l.present == fresh[i].first && l.value == fresh[i].second) {
                break;
            }
            l.present = fresh[i].first;
            l.value = fresh[i].second;
            msgObject msg(DSK_MSG_REGISTRY_CHANGED, l.present ? 1u : 0u, 0);
            int number = 0;
            if (l.present && RegistryStore::parseInt(l.value, number)) {
                msg.lParam = number;
            }
            msg.data = l.value;
            if (!msgPostToHandler(l.handler, l.operation, msg)) {
                etlModuleTrace(4, "W:dskregistry", "change of [%s] %s in %s not delivered", l.section.c_str(),
                               l.name.c_str(), l.file.c_str());
            }
            break;
        }
    }
}

void RegistryWatcher::run()
{
    using Clock = std::chrono::steady_clock;
    pthread_setname_np(pthread_self(), "config-watch");
    const sigset_t signals = notificationSignals();
    m_signalFd = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    bool polling = m_signalFd < 0 || !rearm();
    if (polling) {
        etlModuleTrace(4, "W:dskregistry",
                       "configuration folders cannot all be watched; checking them twice a second");
    }
    std::map<std::string, std::string> seen =
        polling ? fileSignatures() : std::map<std::string, std::string>();
    recheck();
    bool settling = false;
    Clock::time_point firstChange;
    while (!m_stop.load()) {
        pollfd ready[2] = {{m_wakeFd, POLLIN, 0}, {m_signalFd, POLLIN, 0}};
        const int timeout = settling ? kSettleMs : (polling ? kPollMs : -1);
        const int count = ::poll(ready, m_signalFd >= 0 ? 2 : 1, timeout);
        if (m_stop.load()) {
            break;
        }
        bool listenersChanged = false;
        if (count > 0 && (ready[0].revents & POLLIN)) {
            uint64_t wakes;
            [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &wakes, sizeof wakes);
            listenersChanged = true;
        }
        bool changed = count > 0 && (ready[1].revents & POLLIN) && drainNotifications();
        if (polling) {
            std::map<std::string, std::string> now = fileSignatures();
            if (now != seen) {
                seen.swap(now);
                changed = true;
            }
        }
        const Clock::time_point at = Clock::now();
        if (changed) {
            // Still being written: wait until it has been quiet for a settle period.
            if (!settling) {
                firstChange = at;
            }
            settling = true;
            if (at - firstChange < std::chrono::milliseconds(kSettleMaxMs)) {
                continue;
            }
        }
        if (settling || listenersChanged) {
            settling = false;
            if (m_signalFd >= 0) {
                const bool watched = rearm();
                if (watched != !polling) {
                    polling = !watched;
                    seen = polling ? fileSignatures() : std::map<std::string, std::string>();
                }
            }
            recheck();
        }
    }
    closeFolders();
    if (m_signalFd >= 0) {
        ::close(m_signalFd);
        m_signalFd = -1;
    }
}
