#include "WddmpCommandLine.h"

#include <climits>
#include <cstring>

WddmpCommandLine WddmpCommandLine::parse(int argc, const char *const *argv)
{
    WddmpCommandLine result;
    if (argc != 6)
        return result;
    const char *pid = argv[1];
    if (*pid == '\0' || strlen(pid) > 10)
        return result;
    unsigned long long value = 0;
    for (const char *c = pid; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9')
            return result;
        value = value * 10 + static_cast<unsigned>(*c - '0');
    }
    if (value == 0 || value > static_cast<unsigned long long>(INT_MAX))
        return result;
    result.pid = static_cast<pid_t>(value);
    result.prefix = argv[2];
    result.dumpTool = argv[3];
    result.logFolder = argv[4];
    result.recordName = argv[5];
    // The prefix and the record name are single names: they must not lead elsewhere.
    if (result.prefix.find('/') != std::string::npos || result.dumpTool.empty() || result.logFolder.empty() ||
        result.recordName.empty() || result.recordName.size() > 250 ||
        result.recordName.find('/') != std::string::npos || result.recordName == "." ||
        result.recordName == "..")
        return result;
    result.valid = true;
    return result;
}

const char *WddmpCommandLine::usage()
{
    return "usage: wddmp.exe <pid> <dump-name prefix> <dump tool> <log folder> <heartbeat record>\n"
           "Watches the heartbeat record of the process. When the time in it is older than the hang limit\n"
           "(30 s; TARN_WDDMP_HANG_SECONDS may lower it), the dump tool writes one dump of the hung process\n"
           "into the log folder. Ends when the record reads 0 or the process is gone.\n";
}
