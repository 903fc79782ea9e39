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
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <system_error>

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
    m_wakeFd.reset();
}

bool RegistryWatcher::startThread()
{
    if (m_thread.joinable()) {
        return true;
    }
    m_wakeFd.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!m_wakeFd.isValid()) {
        etlModuleTrace(3, "E:dskregistry", "cannot watch configuration files: %s", std::strerror(errno));
        return false;
    }
    try {
        m_thread = std::thread(&RegistryWatcher::run, this);
    } catch (const std::system_error &error) {
        etlModuleTrace(3, "E:dskregistry", "cannot watch configuration files: %s", error.what());
        m_wakeFd.reset();
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
    if (m_wakeFd.isValid()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wakeFd.get(), &one, sizeof one);
    }
}

std::map<std::string, std::string> RegistryWatcher::fileSignatures()
{
    std::set<std::string> files;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Listener &l : m_listeners) {
            files.insert(l.file);
        }
    }
    std::map<std::string, std::string> signatures;
    for (const std::string &file : files) {
        for (const std::string &path : {RegistryStore::userFile(file), RegistryStore::installFile(file)}) {
            signatures[path] = pathSignature(path);
        }
    }
    return signatures;
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
    std::map<std::string, std::string> seen = fileSignatures();
    recheck();
    bool settling = false;
    Clock::time_point firstChange;
    while (!m_stop.load()) {
        pollfd wakeUp = {m_wakeFd.get(), POLLIN, 0};
        const int ready = ::poll(&wakeUp, 1, settling ? kSettleMs : kPollMs);
        if (m_stop.load()) {
            break;
        }
        bool listenersChanged = false;
        if (ready > 0 && (wakeUp.revents & POLLIN)) {
            uint64_t count;
            [[maybe_unused]] const ssize_t n = ::read(m_wakeFd.get(), &count, sizeof count);
            listenersChanged = true;
        }
        std::map<std::string, std::string> now = fileSignatures();
        const Clock::time_point at = Clock::now();
        if (now != seen) {
            // Still being written: wait until it has been quiet for a settle period.
            if (!settling) {
                firstChange = at;
            }
            settling = true;
            seen.swap(now);
            if (at - firstChange < std::chrono::milliseconds(kSettleMaxMs)) {
                continue;
            }
        }
        if (settling || listenersChanged) {
            settling = false;
            recheck();
        }
    }
}
