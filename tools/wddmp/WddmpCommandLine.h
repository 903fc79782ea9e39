#pragma once

#include <sys/types.h>

#include <string>

// The watchdog's command line after splitting: the process to watch, the dump-name prefix, the dump
// tool, the folder for dumps and the name of the heartbeat record.
class WddmpCommandLine
{
public:
    static WddmpCommandLine parse(int argc, const char *const *argv);
    static const char *usage();

    bool valid = false;
    pid_t pid = 0;
    std::string prefix;
    std::string dumpTool;
    std::string logFolder;
    std::string recordName;
};
