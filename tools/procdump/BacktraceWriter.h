#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Writes a symbolised backtrace of every thread of a process whose threads this process holds
// stopped under ptrace.
class BacktraceWriter
{
public:
    // `threads` in the order to print; `signal` 0 when no signal caused the dump.
    static bool write(const std::string &path, pid_t pid, const std::vector<pid_t> &threads,
                      pid_t crashedThread, int signal, std::string *error);
};
