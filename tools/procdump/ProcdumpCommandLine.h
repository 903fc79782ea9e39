#pragma once

#include <sys/types.h>

#include <string>

// The two command lines the dump tool takes, after the launcher has split them:
//   -accepteula -mm -n 1 -e <pid> <dump path>   dump when the process is about to die of a fault
//   -accepteula -mm -n 1 <pid> <dump path>      dump at once (a hung process), then let it run on
class ProcdumpCommandLine
{
public:
    static ProcdumpCommandLine parse(int argc, const char *const *argv);
    static const char *usage();

    bool valid = false;
    bool onException = false;
    pid_t pid = 0;
    std::string dumpPath;
};
