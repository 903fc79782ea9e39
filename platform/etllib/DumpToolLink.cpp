#include "DumpToolLink.h"

#include "CrashNotice.h"

#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

// Plain atomics: the crash hook reads them on any thread, with the heap possibly broken.
std::atomic<int> g_descriptor{-1};
std::atomic<pid_t> g_toolPid{0};
std::atomic<bool> g_handingOff{false};

long long monotonicMs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

std::string DumpToolLink::socketName(pid_t target)
{
    return "procdump-" + std::to_string(target) + ".socket";
}

DumpToolLink::Attempt DumpToolLink::connect(const std::string &socketPath, std::string *why)
{
    sockaddr_un address;
    memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof(address.sun_path)) {
        *why = "socket path too long";
        return Attempt::Refused;
    }
    memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *why = std::string("no socket: ") + strerror(errno);
        return Attempt::Refused;
    }
    // A local stream connect completes at once or fails at once; it never waits.
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0) {
        const int error = errno;
        ::close(fd);
        *why = strerror(error);
        return error == ENOENT || error == ECONNREFUSED || error == EAGAIN || error == EINTR
                   ? Attempt::NotYet
                   : Attempt::Refused;
    }
    ucred peer;
    socklen_t length = sizeof(peer);
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.pid <= 0) {
        *why = "the listener cannot be identified";
        ::close(fd);
        return Attempt::Refused;
    }
    if (peer.uid != getuid()) {
        *why = "the listener belongs to uid " + std::to_string(peer.uid);
        ::close(fd);
        return Attempt::Refused;
    }
    drop();
    g_toolPid.store(peer.pid);
    g_descriptor.store(fd);
    return Attempt::Connected;
}

int DumpToolLink::descriptor()
{
    return g_descriptor.load();
}

pid_t DumpToolLink::toolPid()
{
    return g_toolPid.load();
}

bool DumpToolLink::toolGone()
{
    const int fd = g_descriptor.load();
    if (fd < 0)
        return true;
    // The tool's answer during a crash belongs to the hook: look, never take.
    if (g_handingOff.load())
        return false;
    char byte = 0;
    const ssize_t got = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (got > 0) {
        // The tool speaks only when asked; anything else is dropped so the descriptor quietens.
        recv(fd, &byte, 1, MSG_DONTWAIT);
        return false;
    }
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return false;
    drop();
    return true;
}

void DumpToolLink::drop()
{
    const int fd = g_descriptor.exchange(-1);
    g_toolPid.store(0);
    if (fd >= 0)
        ::close(fd);
}

bool DumpToolLink::handingOff()
{
    return g_handingOff.load();
}

bool DumpToolLink::handOff(int signalNumber, siginfo_t *info, void *context, int waitSeconds)
{
    g_handingOff.store(true);
    const int fd = g_descriptor.load();
    const pid_t tool = g_toolPid.load();
    if (fd < 0 || tool <= 0)
        return false;
    // The latest child holds the tracing grant; at this moment it must be the dump tool.
    prctl(PR_SET_PTRACER, static_cast<unsigned long>(tool), 0, 0, 0);

    CrashNotice notice;
    notice.pid = getpid();
    notice.tid = static_cast<int32_t>(syscall(SYS_gettid));
    notice.signal = signalNumber;
    notice.siginfoAddress = reinterpret_cast<uintptr_t>(info);
    notice.ucontextAddress = reinterpret_cast<uintptr_t>(context);
    ssize_t sent = -1;
    do {
        // No SIGPIPE when the tool is gone, and never a wait on a full buffer.
        sent = send(fd, &notice, sizeof(notice), MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(sizeof(notice)))
        return false;

    const long long deadline = monotonicMs() + static_cast<long long>(waitSeconds) * 1000;
    for (;;) {
        const long long left = deadline - monotonicMs();
        if (left <= 0)
            return true;
        pollfd ready = {fd, POLLIN, 0};
        const int result = poll(&ready, 1, static_cast<int>(left));
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0)
            return true;
        // The answer, or the end of the tool: either way there is nothing more to wait for.
        char answer = 0;
        recv(fd, &answer, 1, MSG_DONTWAIT);
        return true;
    }
}
