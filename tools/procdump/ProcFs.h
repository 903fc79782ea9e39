#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// What the dump tool reads about another process from /proc.
class ProcFs
{
public:
    struct Mapping
    {
        uint64_t start = 0;
        uint64_t end = 0;
        bool readable = false;
        bool writable = false;
        bool executable = false;
        bool shared = false;
        uint64_t offset = 0;
        uint64_t inode = 0;
        std::string path;
        // Bytes of the mapping that the process has written to (copies of file pages included).
        uint64_t anonymousBytes = 0;
    };

    struct Status
    {
        char state = '?';
        pid_t ppid = 0;
        pid_t pgrp = 0;
        pid_t session = 0;
        long nice = 0;
        unsigned long flags = 0;
        uid_t uid = 0;
        gid_t gid = 0;
        std::string name;
    };

    static std::string readFile(const std::string &path);
    static std::vector<pid_t> threads(pid_t pid);
    static std::vector<Mapping> mappings(pid_t pid);
    static bool readStatus(pid_t pid, Status *status);
    // The process exists and is not a zombie.
    static bool isAlive(pid_t pid);
    // The signal runs a handler / is ignored in the process (dispositions are process-wide).
    static bool signalCaught(pid_t pid, int signal);
    static bool signalIgnored(pid_t pid, int signal);
    static std::string commandLine(pid_t pid);
    static std::string threadName(pid_t pid, pid_t tid);
};
