// A program that lets a dump tool attach to it and then fails, exits or stalls as its argument says.
// It creates its own heartbeat record, as the desktop program does, so the tool's clean-up shows.

#include "RuntimeLocation.h"

#include <fcntl.h>
#include <pthread.h>
#include <setjmp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<int> g_usr1(0);
std::atomic<bool> g_release(false);

bool traced()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 10, "TracerPid:") == 0)
            return atol(line.c_str() + 10) != 0;
    return false;
}

int64_t *g_record = nullptr;

void createHeartbeatRecord()
{
    if (RuntimeLocation::ensure(nullptr).empty())
        return;
    const std::string path = RuntimeLocation::objectPath("wddmpsharememory" + std::to_string(getpid()));
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || ftruncate(fd, 8) != 0)
        return;
    void *view = mmap(nullptr, 8, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (view == MAP_FAILED)
        return;
    g_record = static_cast<int64_t *>(view);
    __atomic_store_n(g_record, static_cast<int64_t>(time(nullptr)), __ATOMIC_RELEASE);
}

__attribute__((noinline)) void crashHere(int depth)
{
    if (depth > 0) {
        crashHere(depth - 1);
        return;
    }
    volatile int *invalid = reinterpret_cast<int *>(uintptr_t(16));
    *invalid = 42;
}

void reraiseWithDefault(int signal)
{
    static const char text[] = "handler ran\n";
    if (write(STDERR_FILENO, text, sizeof(text) - 1) < 0)
        _exit(5);
    ::signal(signal, SIG_DFL);
    raise(signal);
}

sigjmp_buf g_recoverPoint;

void recover(int)
{
    siglongjmp(g_recoverPoint, 1);
}

void countUsr1(int)
{
    ++g_usr1;
}

void waitForever()
{
    while (!g_release.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr,
                "usage: crasher "
                "segv|abort|exit|handled|recovered|threads|usr1|stop|sleep|stall|stall-twice|cleared\n");
        return 2;
    }
    const std::string mode = argv[1];
#ifdef PR_SET_PTRACER
    prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
#endif
    createHeartbeatRecord();
    // A hung program: the heartbeat was written once and is never renewed.
    if (mode == "stall") {
        std::this_thread::sleep_for(std::chrono::seconds(60));
        return 0;
    }
    // Hangs, comes back once with a fresh heartbeat, then hangs for good.
    if (mode == "stall-twice") {
        std::this_thread::sleep_for(std::chrono::seconds(5));
        if (g_record != nullptr)
            __atomic_store_n(g_record, static_cast<int64_t>(time(nullptr)), __ATOMIC_RELEASE);
        std::this_thread::sleep_for(std::chrono::seconds(60));
        return 0;
    }
    // A program that left its loop in an orderly way but has not ended yet.
    if (mode == "cleared") {
        if (g_record != nullptr)
            __atomic_store_n(g_record, int64_t(0), __ATOMIC_RELEASE);
        std::this_thread::sleep_for(std::chrono::seconds(60));
        return 0;
    }
    for (int i = 0; i < 2000 && !traced(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!traced())
        return 3;

    if (mode == "segv") {
        crashHere(3);
    } else if (mode == "abort") {
        abort();
    } else if (mode == "exit") {
        return 0;
    } else if (mode == "handled") {
        signal(SIGSEGV, reraiseWithDefault);
        crashHere(1);
    } else if (mode == "threads") {
        std::vector<std::thread> workers;
        for (int i = 0; i < 3; ++i)
            workers.emplace_back(waitForever);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        crashHere(2);
        g_release = true;
        for (std::thread &worker : workers)
            worker.join();
    } else if (mode == "recovered") {
        // A fault the program handles and survives is no crash.
        signal(SIGSEGV, recover);
        if (sigsetjmp(g_recoverPoint, 1) == 0)
            crashHere(1);
        return 0;
    } else if (mode == "usr1") {
        signal(SIGUSR1, countUsr1);
        for (int i = 0; i < 3; ++i)
            raise(SIGUSR1);
        return g_usr1.load();
    } else if (mode == "stop") {
        raise(SIGSTOP);
        return 7;
    } else if (mode == "sleep") {
        std::this_thread::sleep_for(std::chrono::seconds(60));
        return 0;
    }
    return 4;
}
