// Opens its heartbeat record and starts the dump tool against itself the way the desktop program
// does, waits until the tool follows it, then fails with an invalid memory access.
// Arguments: <folder holding procdump> <log folder>

#include "CDumpServer.h"
#include "winapi.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

bool traced()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 10, "TracerPid:") == 0)
            return atol(line.c_str() + 10) != 0;
    return false;
}

__attribute__((noinline)) void failHere()
{
    volatile int *invalid = reinterpret_cast<int *>(uintptr_t(8));
    *invalid = 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    const std::string root = argv[1];
    CDumpServer server;
    if (!server.OpenShareMemory())
        return 3;
    if (!server.StartDumpProcess(root + "/wddmp.exe", GetCurrentProcessId(), "Corvane Daskor-1.0.0.5-",
                                 root + "/procdump", argv[2], true))
        return 4;
    for (int i = 0; i < 2000 && !traced(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!traced())
        return 5;
    server.UpdateTime();
    failHere();
    return 6;
}
