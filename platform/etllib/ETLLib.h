#pragma once

// Trace and path services of the in-house runtime.

#include <cstddef>
#include <string>

struct SYSTEMTIME;

// One trace line "YYYY-MM-DD hh:mm:ss.zzz <pid>:<tid> <tag> <text>" when level <= the current trace
// level. Safe from any number of threads; a line accepted here survives a crash of the process.
void etlModuleTrace(int level, const char *tag, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// Installs the crash hook: on SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP and SIGSYS it writes
// the crash line, hands the process to its dump tool when one waits (see DumpToolLink) and then
// ends the process with the signal's default action. Async-signal-safe throughout.
void etlHookCrashSignal();

void etlSetAppDocPath(const std::string &path);
std::string etlGetAppDocPath();

// Folder of the running executable, links resolved, no trailing separator.
std::string etlGetAppRootPath();
std::string appRootPath();
// $XDG_CONFIG_HOME/tarn-desktop (default ~/.config/tarn-desktop).
std::string etlGetAppDataRootPath();
std::string etlGetExeFileName();

// Lets tests and tools stand a folder in for the executable's folder; empty restores the default.
void etlOverrideAppRootPath(const std::string &path);

std::string pathRemoveLastPart(const std::string &path);
std::string pathAppend(const std::string &folder, const std::string &relative);
// Creates the folder and its missing parents (mode 0700 for new folders).
bool pathCreateDirectory(const std::string &path);
// write(2) until every byte is out, again after EINTR; false at the first other failure, errno says
// why. Async-signal-safe, so the crash hook may use it.
bool writeAll(int fd, const char *data, size_t length);
// Identity, size and both times of a file as text; empty when it cannot be examined. An edit in place
// changes the times, a replacement by rename the identity.
std::string pathSignature(const std::string &path);

void etlGetLocalTime(SYSTEMTIME *time);

// recv() on a non-blocking socket: a positive count while bytes remain, 0 or less when empty.
int sockRecv(int socket, char *buffer, int length, int flags);
