#pragma once

#include "ThreadSnapshot.h"

#include <signal.h>
#include <sys/types.h>

#include <cstdint>

// What the failing thread's signal handler was given, read from the stopped process: the signal's
// details and the registers at the instruction that failed.
class FaultContext
{
public:
    static bool readSiginfo(pid_t pid, uint64_t address, siginfo_t *info);
    // `thread` holds the registers as the thread stands now (inside the handler); they become those
    // at the fault. Registers the handler's context does not carry are kept.
    static bool readRegisters(pid_t pid, uint64_t ucontextAddress, ThreadSnapshot *thread);
};
