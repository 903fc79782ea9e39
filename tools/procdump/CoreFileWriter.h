#pragma once

#include "ThreadSnapshot.h"

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <vector>

// Writes an ELF core of a stopped process: the notes a debugger needs (threads' registers, process
// info, auxiliary vector, mapped files, the fatal signal) and the memory that cannot be found in the
// mapped files: stacks from their stack pointer up, writable data, the vDSO and the ELF headers.
class CoreFileWriter
{
public:
    // `info` is null when no signal caused the dump (a hung process).
    CoreFileWriter(pid_t pid, int signal, const siginfo_t *info);

    // `threads` come with the thread to show first at the front. The file is created owner-only.
    bool write(const std::string &path, const std::vector<ThreadSnapshot> &threads, std::string *error) const;

private:
    pid_t m_pid;
    int m_signal;
    bool m_hasInfo;
    siginfo_t m_info;
};
