// A program with the desktop program's crash hook that links up with its dump tool and then fails,
// exits or stalls as its arguments say: a mode, and "thread" to fail on a second thread.
// It creates its own heartbeat record, as the desktop program does, so the tool's clean-up shows.

#include "DumpToolLink.h"
#include "ETLLib.h"
#include "RuntimeLocation.h"

#include <fcntl.h>
#include <pthread.h>
#include <setjmp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
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

// Connects to the dump tool the way the program does, once the tool listens.
bool linkToDumpTool()
{
    std::string why;
    const std::string path = RuntimeLocation::ensure(&why) + "/" + DumpToolLink::socketName(getpid());
    for (int i = 0; i < 3000; ++i) {
        const DumpToolLink::Attempt attempt = DumpToolLink::connect(path, &why);
        if (attempt == DumpToolLink::Attempt::Connected)
            return true;
        if (attempt == DumpToolLink::Attempt::Refused) {
            fprintf(stderr, "no link: %s\n", why.c_str());
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
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

void replacedHandler(int signal)
{
    static const char text[] = "handler ran\n";
    if (write(STDERR_FILENO, text, sizeof(text) - 1) < 0)
        _exit(5);
    ::signal(signal, SIG_DFL);
    raise(signal);
}

volatile int g_zero = 0;

__attribute__((noinline)) void overflowStack(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (g_zero == 0)
        overflowStack(depth + 1);
    frame[1] = frame[0];
}

// Fails the way `mode` names; false for a mode that is no fault.
__attribute__((noinline)) bool faultNow(const std::string &mode)
{
    if (mode == "segv") {
        crashHere(3);
    } else if (mode == "bus") {
        // Reading a page of a file beyond its end.
        const int fd = static_cast<int>(syscall(SYS_memfd_create, "empty", 0));
        volatile char *page = static_cast<volatile char *>(mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
        if (page != MAP_FAILED)
            g_zero = page[0];
    } else if (mode == "ill") {
        __builtin_trap();
    } else if (mode == "fpe") {
        // A constant numerator would let the compiler replace the division by a comparison.
        g_zero = static_cast<int>(time(nullptr)) / g_zero;
    } else if (mode == "abort") {
        abort();
    } else if (mode == "trap") {
        __asm__ volatile("int3");
    } else if (mode == "sys") {
        raise(SIGSYS);
    } else if (mode == "double-free") {
        // The allocator finds its heap corrupted and aborts.
        char *volatile block = static_cast<char *>(malloc(64));
        free(block);
        free(block);
    } else if (mode == "overflow") {
        overflowStack(0);
    } else {
        return false;
    }
    return true;
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
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: crasher segv|bus|ill|fpe|abort|trap|sys|double-free|overflow [thread]\n"
                        "       crasher exit|handled|recovered|threads|together|usr1|stop|sleep\n"
                        "       crasher stall|stall-twice|cleared\n");
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
    etlHookCrashSignal();
    if (!linkToDumpTool())
        return 3;
    const bool onThread = argc > 2 && std::string(argv[2]) == "thread";

    if (onThread) {
        std::thread worker([&] { faultNow(mode); });
        worker.join();
        return 4;
    }
    if (faultNow(mode)) {
        return 4;
    } else if (mode == "exit") {
        return 0;
    } else if (mode == "handled") {
        // The program put its own handler over the hook.
        signal(SIGSEGV, replacedHandler);
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
    } else if (mode == "together") {
        // Two threads fail at the same moment.
        std::atomic<int> ready(0);
        std::vector<std::thread> workers;
        for (int i = 0; i < 2; ++i)
            workers.emplace_back([&] {
                ++ready;
                while (ready.load() < 2) {
                }
                crashHere(1);
            });
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
        // Linked and waiting: the test looks at it from outside, then ends it.
        fputs("linked\n", stderr);
        std::this_thread::sleep_for(std::chrono::seconds(60));
        return 0;
    }
    return 4;
}
