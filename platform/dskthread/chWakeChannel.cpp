#include "chWakeChannel.h"

#include "ETLLib.h"
#include "dskthread.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

chWakeChannel::chWakeChannel() : m_fds{-1, -1}
{
    if (!chIsSocketEvent()) {
        return;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, m_fds) != 0) {
        m_fds[0] = m_fds[1] = -1;
        etlModuleTrace(3, "E:dskthread", "wake-up socket could not be created (errno %d)", errno);
    }
}

chWakeChannel::~chWakeChannel()
{
    for (int &fd : m_fds) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

bool chWakeChannel::valid() const
{
    return !chIsSocketEvent() || m_fds[0] >= 0;
}

void chWakeChannel::wake()
{
    if (chIsSocketEvent()) {
        if (m_fds[1] < 0) {
            return;
        }
        const char byte = 1;
        ssize_t n;
        do {
            n = ::send(m_fds[1], &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        // EAGAIN: the socket is full, so the reader has a wake pending already.
        return;
    }
    {
        std::lock_guard<std::mutex> guard(m_kickLock);
        ++m_kicks;
    }
    m_kick.notify_all();
    m_signal.emit();
}

bool chWakeChannel::waitForWake(int timeoutMs)
{
    if (chIsSocketEvent()) {
        if (m_fds[0] < 0) {
            return false;
        }
        pollfd pfd{m_fds[0], POLLIN, 0};
        int rc;
        do {
            rc = ::poll(&pfd, 1, timeoutMs < 0 ? -1 : timeoutMs);
        } while (rc < 0 && errno == EINTR);
        if (rc > 0) {
            drain();
            return true;
        }
        return false;
    }
    std::unique_lock<std::mutex> guard(m_kickLock);
    auto woken = [this] { return m_kicks != m_seenKicks; };
    bool result;
    if (timeoutMs < 0) {
        m_kick.wait(guard, woken);
        result = true;
    } else {
        result = m_kick.wait_for(guard, std::chrono::milliseconds(timeoutMs), woken);
    }
    m_seenKicks = m_kicks;
    return result;
}

void chWakeChannel::drain()
{
    if (chIsSocketEvent()) {
        char buffer[64];
        while (m_fds[0] >= 0 && ::recv(m_fds[0], buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
        }
        return;
    }
    std::lock_guard<std::mutex> guard(m_kickLock);
    m_seenKicks = m_kicks;
}
