#include "CrashListener.h"

#include "CrashNotice.h"
#include "DumpToolLink.h"
#include "ProcFs.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

volatile sig_atomic_t g_stopRequested = 0;

// How often the target's life is checked where the kernel cannot report its end.
const int kPollMs = 250;

} // namespace

CrashListener::CrashListener(pid_t target) : m_target(target) {}

CrashListener::~CrashListener()
{
    if (m_client >= 0)
        close(m_client);
    if (m_listener >= 0) {
        close(m_listener);
        unlink(m_path.c_str());
    }
    if (m_pidfd >= 0)
        close(m_pidfd);
}

void CrashListener::requestStop()
{
    g_stopRequested = 1;
}

bool CrashListener::listen(const std::string &folder, std::string *error)
{
    if (folder.empty()) {
        *error = "no private runtime folder";
        return false;
    }
    m_path = folder + "/" + DumpToolLink::socketName(m_target);
    sockaddr_un address;
    memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (m_path.size() >= sizeof(address.sun_path)) {
        *error = "socket path too long: " + m_path;
        return false;
    }
    memcpy(address.sun_path, m_path.c_str(), m_path.size() + 1);
    m_listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listener < 0) {
        *error = std::string("no socket: ") + strerror(errno);
        return false;
    }
    // Left by an earlier tool of a process that had the same id; the folder is ours alone.
    unlink(m_path.c_str());
    const mode_t previous = umask(077);
    const bool bound = bind(m_listener, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0;
    umask(previous);
    if (!bound || ::listen(m_listener, 4) != 0) {
        *error = "cannot listen on " + m_path + ": " + strerror(errno);
        close(m_listener);
        m_listener = -1;
        return false;
    }
    m_pidfd = static_cast<int>(syscall(SYS_pidfd_open, m_target, 0));
    return true;
}

void CrashListener::accept()
{
    const int fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
        return;
    ucred peer;
    socklen_t length = sizeof(peer);
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.pid != m_target ||
        peer.uid != getuid()) {
        fprintf(stderr, "procdump: turned away a connection from process %d\n",
                length == sizeof(peer) ? static_cast<int>(peer.pid) : -1);
        close(fd);
        return;
    }
    // The target connects again when it restarts its link; the latest connection counts.
    if (m_client >= 0)
        close(m_client);
    m_client = fd;
}

bool CrashListener::readNotice(CrashNotice *notice)
{
    char buffer[sizeof(CrashNotice)];
    ssize_t got = 0;
    do {
        got = recv(m_client, buffer, sizeof(buffer), MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return false;
    if (got != static_cast<ssize_t>(sizeof(buffer))) {
        // The target closed its end (or spoke nonsense): it can no longer report a fault.
        close(m_client);
        m_client = -1;
        return false;
    }
    memcpy(notice, buffer, sizeof(*notice));
    return true;
}

void CrashListener::answer()
{
    if (m_client < 0)
        return;
    const char done = CrashNotice::kDone;
    while (send(m_client, &done, 1, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno == EINTR) {
    }
}

CrashListener::Event CrashListener::wait(CrashNotice *notice)
{
    for (;;) {
        if (g_stopRequested)
            return Event::Interrupted;
        pollfd ready[3];
        int count = 0;
        ready[count++] = {m_listener, POLLIN, 0};
        const int clientIndex = m_client >= 0 ? count : -1;
        if (m_client >= 0)
            ready[count++] = {m_client, POLLIN, 0};
        const int pidIndex = m_pidfd >= 0 ? count : -1;
        if (m_pidfd >= 0)
            ready[count++] = {m_pidfd, POLLIN, 0};
        const int result = poll(ready, static_cast<nfds_t>(count), m_pidfd >= 0 ? -1 : kPollMs);
        if (result < 0) {
            if (errno == EINTR)
                continue;
            return Event::Failed;
        }
        if (clientIndex >= 0 && (ready[clientIndex].revents & (POLLIN | POLLHUP | POLLERR)) &&
            readNotice(notice))
            return Event::Notice;
        if (ready[0].revents & POLLIN)
            accept();
        if ((pidIndex >= 0 && (ready[pidIndex].revents & POLLIN)) ||
            (m_pidfd < 0 && !ProcFs::isAlive(m_target)))
            return Event::TargetGone;
    }
}
