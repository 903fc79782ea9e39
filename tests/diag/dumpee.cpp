// Opens its heartbeat record, installs the crash hook and starts the dump tool against itself the
// way the desktop program does, runs its event loop until the tool is linked, then
//   (no mode)  fails with an invalid memory access;
//   "watch"    prints "linked <tool pid>" and runs on until it is killed or a minute has passed.
// Arguments: <folder holding procdump> <log folder> [mode]

#include "CDumpServer.h"
#include "DumpToolLink.h"
#include "ETLLib.h"
#include "winapi.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <string>

namespace {

__attribute__((noinline)) void failHere()
{
    volatile int *invalid = reinterpret_cast<int *>(uintptr_t(8));
    *invalid = 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3 && argc != 4)
        return 2;
    QCoreApplication app(argc, argv);
    const std::string root = argv[1];
    const bool watch = argc == 4 && std::string(argv[3]) == "watch";
    etlHookCrashSignal();
    CDumpServer server;
    if (!server.OpenShareMemory())
        return 3;
    if (!server.StartDumpProcess(root + "/wddmp.exe", GetCurrentProcessId(), "Corvane Daskor-1.0.0.5-",
                                 root + "/procdump", argv[2], true))
        return 4;
    QElapsedTimer clock;
    clock.start();
    while (!server.isDumpToolLinked() && clock.elapsed() < 30000)
        app.processEvents(QEventLoop::WaitForMoreEvents, 100);
    if (!server.isDumpToolLinked())
        return 5;
    server.UpdateTime();
    if (!watch)
        failHere();
    printf("linked %d\n", static_cast<int>(DumpToolLink::toolPid()));
    fflush(stdout);
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    return app.exec();
}
