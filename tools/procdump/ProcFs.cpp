#include "ProcFs.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

std::string procPath(pid_t pid, const char *leaf)
{
    return "/proc/" + std::to_string(pid) + "/" + leaf;
}

// The hexadecimal signal mask on a "Name:\t..." line of /proc/<pid>/status.
bool signalMaskHas(pid_t pid, const char *field, int signal)
{
    std::istringstream lines(ProcFs::readFile(procPath(pid, "status")));
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(lines, line)) {
        if (line.compare(0, prefix.size(), prefix) != 0)
            continue;
        const unsigned long long mask = strtoull(line.c_str() + prefix.size(), nullptr, 16);
        return signal >= 1 && signal <= 64 && (mask >> (signal - 1)) & 1ull;
    }
    return false;
}

} // namespace

std::string ProcFs::readFile(const std::string &path)
{
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return text;
}

std::vector<pid_t> ProcFs::threads(pid_t pid)
{
    std::vector<pid_t> result;
    DIR *dir = opendir(procPath(pid, "task").c_str());
    if (dir == nullptr)
        return result;
    while (dirent *entry = readdir(dir)) {
        char *end = nullptr;
        const long tid = strtol(entry->d_name, &end, 10);
        if (tid > 0 && end != nullptr && *end == '\0')
            result.push_back(static_cast<pid_t>(tid));
    }
    closedir(dir);
    return result;
}

std::vector<ProcFs::Mapping> ProcFs::mappings(pid_t pid)
{
    std::vector<Mapping> result;
    std::istringstream lines(readFile(procPath(pid, "smaps")));
    std::string line;
    while (std::getline(lines, line)) {
        if (!result.empty() && line.compare(0, 10, "Anonymous:") == 0) {
            result.back().anonymousBytes = strtoull(line.c_str() + 10, nullptr, 10) * 1024;
            continue;
        }
        Mapping m;
        char perms[8] = {0};
        unsigned long long start = 0, end = 0, offset = 0, inode = 0;
        unsigned devMajor = 0, devMinor = 0;
        int consumed = 0;
        // Field lines ("Size:   4 kB") never parse as a range header.
        if (sscanf(line.c_str(), "%llx-%llx %7s %llx %x:%x %llu %n", &start, &end, perms, &offset, &devMajor,
                   &devMinor, &inode, &consumed) < 7)
            continue;
        m.start = start;
        m.end = end;
        m.readable = perms[0] == 'r';
        m.writable = perms[1] == 'w';
        m.executable = perms[2] == 'x';
        m.shared = perms[3] == 's';
        m.offset = offset;
        m.inode = inode;
        if (consumed > 0 && static_cast<size_t>(consumed) <= line.size())
            m.path = line.substr(static_cast<size_t>(consumed));
        result.push_back(m);
    }
    return result;
}

bool ProcFs::readStatus(pid_t pid, Status *status)
{
    const std::string stat = readFile(procPath(pid, "stat"));
    // The name is in parentheses and may itself hold blanks and parentheses.
    const size_t open = stat.find('(');
    const size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return false;
    status->name = stat.substr(open + 1, close - open - 1);
    std::istringstream fields(stat.substr(close + 1));
    long tty = 0, tpgid = 0, priority = 0;
    unsigned long long minflt = 0, cminflt = 0, majflt = 0, cmajflt = 0, utime = 0, stime = 0;
    long long cutime = 0, cstime = 0;
    fields >> status->state >> status->ppid >> status->pgrp >> status->session >> tty >> tpgid >>
        status->flags >> minflt >> cminflt >> majflt >> cmajflt >> utime >> stime >> cutime >> cstime >>
        priority >> status->nice;
    if (!fields)
        return false;
    std::istringstream lines(readFile(procPath(pid, "status")));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, 4, "Uid:") == 0)
            status->uid = static_cast<uid_t>(strtoul(line.c_str() + 4, nullptr, 10));
        else if (line.compare(0, 4, "Gid:") == 0)
            status->gid = static_cast<gid_t>(strtoul(line.c_str() + 4, nullptr, 10));
    }
    return true;
}

bool ProcFs::isAlive(pid_t pid)
{
    Status status;
    if (!readStatus(pid, &status))
        return false;
    return status.state != 'Z' && status.state != 'X';
}

bool ProcFs::signalCaught(pid_t pid, int signal)
{
    return signalMaskHas(pid, "SigCgt", signal);
}

bool ProcFs::signalIgnored(pid_t pid, int signal)
{
    return signalMaskHas(pid, "SigIgn", signal);
}

std::string ProcFs::commandLine(pid_t pid)
{
    std::string text = readFile(procPath(pid, "cmdline"));
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    for (char &c : text)
        if (c == '\0')
            c = ' ';
    return text;
}

std::string ProcFs::threadName(pid_t pid, pid_t tid)
{
    std::string name = readFile("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/comm");
    while (!name.empty() && (name.back() == '\n' || name.back() == '\0'))
        name.pop_back();
    return name;
}
