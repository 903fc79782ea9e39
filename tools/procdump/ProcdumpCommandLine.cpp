#include "ProcdumpCommandLine.h"

#include <climits>
#include <cstring>

namespace {

bool parsePid(const char *text, pid_t *pid)
{
    if (*text == '\0' || strlen(text) > 10)
        return false;
    unsigned long long value = 0;
    for (const char *c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(*c - '0');
    }
    if (value == 0 || value > static_cast<unsigned long long>(INT_MAX))
        return false;
    *pid = static_cast<pid_t>(value);
    return true;
}

} // namespace

ProcdumpCommandLine ProcdumpCommandLine::parse(int argc, const char *const *argv)
{
    ProcdumpCommandLine result;
    if (argc != 7 && argc != 8)
        return result;
    const char *const fixed[] = {"-accepteula", "-mm", "-n", "1"};
    for (int i = 0; i < 4; ++i)
        if (strcmp(argv[1 + i], fixed[i]) != 0)
            return result;
    int next = 5;
    if (argc == 8) {
        if (strcmp(argv[next], "-e") != 0)
            return result;
        result.onException = true;
        ++next;
    }
    if (!parsePid(argv[next], &result.pid))
        return result;
    const std::string path = argv[next + 1];
    if (path.empty() || path.back() == '/')
        return result;
    result.dumpPath = path;
    result.valid = true;
    return result;
}

const char *ProcdumpCommandLine::usage()
{
    return "usage: procdump -accepteula -mm -n 1 -e <pid> <dump file>\n"
           "       procdump -accepteula -mm -n 1 <pid> <dump file>\n"
           "With -e the dump is written when the process is about to die of a fault (segmentation fault,\n"
           "bus error, illegal instruction, arithmetic error, abort, trap, bad system call); without it\n"
           "the dump is written at once and the process goes on. Next to the dump, <dump file>.txt\n"
           "holds a backtrace of every thread.\n";
}
