#include "RegistryWatcher.h"

#include "ETLLib.h"
#include "IniFile.h"
#include "RegistryStore.h"
#include "chRegKey.h"
#include "dskregistry.h"
#include "dskthread.h"
#include "msgObject.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace {

constexpr int kRearmMs = 500;
// Editors write in steps; values are read once the folder has been quiet this long, or at the latest
// after kSettleMaxMs, so a half-written file is rarely reported.
constexpr int kSettleMs = 40;
constexpr int kSettleMaxMs = 250;

constexpr uint32_t kWatchMask = IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE |
                                IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

std::string folderOf(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string nearestExistingFolder(std::string folder)
{
    for (;;) {
        struct stat st;
        if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            return folder;
        }
        if (folder == "/" || folder == ".") {
            return std::string();
        }
        folder = folderOf(folder);
    }
}

} // namespace

std::atomic<RegistryWatcher *> RegistryWatcher::s_instance{nullptr};

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
    if (m_inotify >= 0) {
        ::close(m_inotify);
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
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd < 0) {
        etlModuleTrace(3, "E:dskregistry", "cannot watch configuration files: %s", std::strerror(errno));
        return false;
    }
    // Network file systems do not report other machines' edits through inotify; TARN_REGISTRY_POLL=1
    // makes the watcher poll instead.
    const char *poll = std::getenv("TARN_REGISTRY_POLL");
    const bool forcePolling = poll && std::strcmp(poll, "1") == 0;
    m_inotify = forcePolling ? -1 : ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (forcePolling) {
        etlModuleTrace(6, "I:dskregistry", "configuration files are polled");
    } else if (m_inotify < 0) {
        etlModuleTrace(4, "W:dskregistry", "no inotify (%s); configuration files are polled",
                       std::strerror(errno));
    }
    try {
        m_thread = std::thread(&RegistryWatcher::run, this);
    } catch (const std::system_error &error) {
        etlModuleTrace(3, "E:dskregistry", "cannot watch configuration files: %s", error.what());
        if (m_inotify >= 0) {
            ::close(m_inotify);
        }
        ::close(m_wakeFd);
        m_inotify = m_wakeFd = -1;
        return false;
    }
    return true;
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

std::set<std::string> RegistryWatcher::wantedFolders()
{
    std::set<std::string> files;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Listener &l : m_listeners) {
            files.insert(l.file);
        }
    }
    std::set<std::string> folders;
    for (const std::string &file : files) {
        for (const std::string &path : {RegistryStore::userFile(file), RegistryStore::installFile(file)}) {
            const std::string folder = nearestExistingFolder(folderOf(path));
            if (!folder.empty()) {
                folders.insert(folder);
            }
        }
    }
    return folders;
}

bool RegistryWatcher::rearm()
{
    const std::set<std::string> wanted = wantedFolders();
    bool changed = false;
    bool unwatched = false;
    for (auto it = m_watches.begin(); it != m_watches.end();) {
        if (wanted.count(it->first) == 0) {
            bool shared = false;
            for (const auto &other : m_watches) {
                shared = shared || (other.first != it->first && other.second == it->second);
            }
            if (!shared) {
                ::inotify_rm_watch(m_inotify, it->second);
            }
            it = m_watches.erase(it);
            changed = true;
        } else {
            ++it;
        }
    }
    for (const std::string &folder : wanted) {
        if (m_watches.count(folder)) {
            continue;
        }
        const int wd = m_inotify >= 0 ? ::inotify_add_watch(m_inotify, folder.c_str(), kWatchMask) : -1;
        if (wd >= 0) {
            m_watches[folder] = wd;
            changed = true;
        } else {
            unwatched = true;
        }
    }
    m_polling.store(unwatched);
    return changed;
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
    auto lastRearm = Clock::now();
    bool pending = false;
    Clock::time_point firstEvent;
    Clock::time_point lastEvent;
    if (rearm()) {
        recheck();
    }
    char buffer[8192] __attribute__((aligned(__alignof__(struct inotify_event))));
    while (!m_stop.load()) {
        int timeout = kRearmMs;
        const auto now = Clock::now();
        if (pending) {
            const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastEvent).count();
            const auto total =
                std::chrono::duration_cast<std::chrono::milliseconds>(now - firstEvent).count();
            timeout =
                static_cast<int>(std::max<long long>(0, std::min(kSettleMs - quiet, kSettleMaxMs - total)));
        }
        // A negative descriptor is skipped by poll: without inotify only the wake-ups and the tick remain.
        pollfd fds[2] = {{m_inotify, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeout);
        if (m_stop.load()) {
            break;
        }
        bool folderChanged = false;
        if (ready > 0 && (fds[1].revents & POLLIN)) {
            uint64_t count;
            [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof count);
            folderChanged = true;
        }
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            for (;;) {
                const ssize_t n = ::read(m_inotify, buffer, sizeof buffer);
                if (n <= 0) {
                    break;
                }
                for (ssize_t off = 0; off < n;) {
                    const auto *event = reinterpret_cast<const inotify_event *>(buffer + off);
                    if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_Q_OVERFLOW)) {
                        for (auto it = m_watches.begin(); it != m_watches.end();) {
                            it = (it->second == event->wd || (event->mask & IN_Q_OVERFLOW))
                                     ? m_watches.erase(it)
                                     : std::next(it);
                        }
                        folderChanged = true;
                    }
                    if (event->mask & (IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM)) {
                        folderChanged = true;
                    }
                    off += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                }
            }
            const auto at = Clock::now();
            if (!pending) {
                firstEvent = at;
            }
            pending = true;
            lastEvent = at;
        }
        const auto at = Clock::now();
        if (folderChanged || at - lastRearm >= std::chrono::milliseconds(kRearmMs)) {
            lastRearm = at;
            // Folders that could not be watched (no inotify, watch limit reached) are polled instead.
            if (rearm() || m_polling.load()) {
                pending = true;
                firstEvent = lastEvent = at - std::chrono::milliseconds(kSettleMaxMs);
            }
        }
        if (pending && (at - lastEvent >= std::chrono::milliseconds(kSettleMs) ||
                        at - firstEvent >= std::chrono::milliseconds(kSettleMaxMs))) {
            pending = false;
            recheck();
        }
    }
}
