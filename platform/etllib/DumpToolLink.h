#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>

// The program's side of the connection to the dump tool that waits for it to fail. The connection
// is made and watched on the GUI thread; the crash hook uses it with async-signal-safe calls only.
class DumpToolLink
{
public:
    enum class Attempt
    {
        Connected, // the tool listens and is ours
        NotYet,    // nothing listens yet: try again later
        Refused    // the socket cannot be ours, or the system refused
    };

    // Name of the tool's socket for the process `target`, inside the private runtime folder.
    static std::string socketName(pid_t target);

    // One connection attempt that never blocks. Replaces a connection held before.
    static Attempt connect(const std::string &socketPath, std::string *why);
    // The descriptor the GUI thread watches, or -1.
    static int descriptor();
    static pid_t toolPid();
    // Called when the watched descriptor turns readable: true when the tool has gone, in which case
    // the link is dropped and the hook no longer waits for anybody.
    static bool toolGone();
    static void drop();

    // From the crash hook only: hands the failing thread to the tool and waits, at most
    // `waitSeconds`, for it to say that the dump is written. false when no tool was there.
    static bool handOff(int signalNumber, siginfo_t *info, void *context, int waitSeconds);
    // True while a thread of this process is inside handOff.
    static bool handingOff();
};
