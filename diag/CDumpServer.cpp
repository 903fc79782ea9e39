#include "CDumpServer.h"

#include "DumpToolWatch.h"
#include "ETLLib.h"
#include "RuntimeLocation.h"
#include "UICommon.h"

#include <QDateTime>
#include <QFile>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

const char *const kRecordPrefix = "wddmpsharememory";
const char *const kTraceTag = "W:Demo";
// The process-creation call takes a writable buffer of this size; longer lines would be cut.
const size_t kCommandLineSize = 512;

int64_t currentUnixTime()
{
    return static_cast<int64_t>(time(nullptr));
}

// The watchdog reads the record at any moment, so the value must never be seen half written.
void storeHeartbeat(int64_t *view, int64_t value)
{
    __atomic_store_n(view, value, __ATOMIC_RELEASE);
}

// Why the heartbeat record could not be had, in words a reader of the log can act on.
std::string recordFailure(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return "its name is taken by something that is not this user's record";
    case ERROR_PATH_NOT_FOUND:
        return "there is no private runtime folder";
    default:
        return "error " + std::to_string(static_cast<unsigned long>(error));
    }
}

void printStatus(const char *text)
{
    fputs(text, stdout);
    fflush(stdout);
}

// A value that would end or reopen the quotes around it would let the child see different arguments:
// a double quote anywhere, or trailing backslashes that escape the closing quote.
bool quotable(const std::string &value, bool closingQuoteFollows, std::string *why, const char *what)
{
    if (value.find('"') != std::string::npos) {
        *why = std::string(what) + " holds a double quote";
        return false;
    }
    if (closingQuoteFollows && !value.empty() && value.back() == '\\') {
        *why = std::string(what) + " ends with a backslash";
        return false;
    }
    return true;
}

std::string composeCommandLine(const std::string &watchdogPath, DWORD processId,
                               const std::string &dumpNamePrefix, const std::string &dumpToolPath,
                               const std::string &logFolder, bool dumpMode, const SYSTEMTIME &now,
                               std::string *why)
{
    char line[kCommandLineSize];
    int length = 0;
    if (dumpMode) {
        if (!quotable(dumpToolPath, true, why, "dump-tool path") ||
            !quotable(logFolder, false, why, "log folder") ||
            !quotable(dumpNamePrefix, false, why, "dump-name prefix"))
            return std::string();
        char dumpName[128];
        snprintf(dumpName, sizeof(dumpName), "%04d%02d%02d-%02d%02d%02d(e).dmp", now.wYear, now.wMonth,
                 now.wDay, now.wHour, now.wMinute, now.wSecond);
        length = snprintf(line, sizeof(line), "\"%s\" -accepteula -mm -n 1 -e  \"%lu\"  \"%s/%s(%lu)-%s\" ",
                          dumpToolPath.c_str(), static_cast<unsigned long>(processId), logFolder.c_str(),
                          dumpNamePrefix.c_str(), static_cast<unsigned long>(processId), dumpName);
    } else {
        const std::string record = CDumpServer::recordName(GetCurrentProcessId());
        if (!quotable(watchdogPath, true, why, "watchdog path") ||
            !quotable(dumpNamePrefix, true, why, "dump-name prefix") ||
            !quotable(dumpToolPath, true, why, "dump-tool path") ||
            !quotable(logFolder, true, why, "log folder") || !quotable(record, true, why, "record name"))
            return std::string();
        length = snprintf(line, sizeof(line), "\"%s\" \"%lu\" \"%s\" \"%s\" \"%s\" \"%s\"",
                          watchdogPath.c_str(), static_cast<unsigned long>(processId), dumpNamePrefix.c_str(),
                          dumpToolPath.c_str(), logFolder.c_str(), record.c_str());
    }
    if (length < 0) {
        *why = "the command line cannot be formatted";
        return std::string();
    }
    if (static_cast<size_t>(length) >= sizeof(line)) {
        *why = "the command line needs " + std::to_string(length) + " characters, more than " +
               std::to_string(sizeof(line) - 1);
        return std::string();
    }
    return std::string(line, static_cast<size_t>(length));
}

} // namespace

CDumpServer::CDumpServer() : m_mapping(nullptr), m_view(nullptr) {}

// The owner closes the record explicitly before destruction; nothing is released here.
CDumpServer::~CDumpServer() {}

std::string CDumpServer::recordName(DWORD processId)
{
    char name[256];
    snprintf(name, sizeof(name), "%s%lu", kRecordPrefix, static_cast<unsigned long>(processId));
    return name;
}

std::string CDumpServer::buildCommandLine(const std::string &watchdogPath, DWORD processId,
                                          const std::string &dumpNamePrefix, const std::string &dumpToolPath,
                                          const std::string &logFolder, bool dumpMode, const SYSTEMTIME &now)
{
    std::string why;
    return composeCommandLine(watchdogPath, processId, dumpNamePrefix, dumpToolPath, logFolder, dumpMode, now,
                              &why);
}

bool CDumpServer::OpenShareMemory()
{
    // Opening again reuses what is held: a second handle would leak, and closing the first one
    // would take the record's name away from the watchdog.
    if (m_mapping == nullptr) {
        const std::string name = recordName(GetCurrentProcessId());
        m_mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str());
    }
    if (m_mapping == nullptr) {
        const DWORD error = GetLastError();
        printStatus("open sharememory failed");
        const std::string name = recordName(GetCurrentProcessId());
        const std::string path = RuntimeLocation::objectPath(name);
        etlModuleTrace(4, kTraceTag, "crash dumps are off: the heartbeat record [%s] cannot be created: %s",
                       path.empty() ? name.c_str() : path.c_str(), recordFailure(error).c_str());
        return false;
    }
    if (m_view == nullptr)
        m_view = static_cast<int64_t *>(MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (m_view == nullptr) {
        const DWORD error = GetLastError();
        printStatus("map sharememory failed");
        etlModuleTrace(4, kTraceTag, "crash dumps are off: the heartbeat record cannot be mapped: error %lu",
                       static_cast<unsigned long>(error));
        return false;
    }
    printStatus("open sharememory success");
    storeHeartbeat(m_view, currentUnixTime());
    WriteWatchdogFile();
    return true;
}

bool CDumpServer::StartDumpProcess(const std::string &watchdogPath, DWORD processId,
                                   const std::string &dumpNamePrefix, const std::string &dumpToolPath,
                                   const std::string &logFolder, bool dumpMode)
{
    SYSTEMTIME now;
    memset(&now, 0, sizeof(now));
    if (dumpMode)
        etlGetLocalTime(&now);
    std::string why;
    const std::string commandLine = composeCommandLine(watchdogPath, processId, dumpNamePrefix, dumpToolPath,
                                                       logFolder, dumpMode, now, &why);
    if (commandLine.empty()) {
        etlModuleTrace(4, kTraceTag, "dump process not started: %s; crash dumps are off", why.c_str());
        return false;
    }
    char buffer[kCommandLineSize];
    memcpy(buffer, commandLine.c_str(), commandLine.size() + 1);
    if (AutoCreateProcessInJobA(nullptr, buffer, nullptr, nullptr, 0, CREATE_NO_WINDOW, nullptr, nullptr) ==
        0) {
        etlModuleTrace(4, kTraceTag, "crash dumps are off: [%s] cannot be started: error %lu",
                       (dumpMode ? dumpToolPath : watchdogPath).c_str(),
                       static_cast<unsigned long>(GetLastError()));
        return false;
    }
    if (dumpMode && processId == GetCurrentProcessId()) {
        // The tool waits untraced; the crash hook reaches it through this link.
        m_toolWatch.reset(new DumpToolWatch());
        m_toolWatch->start();
    }
    return true;
}

bool CDumpServer::isDumpToolLinked() const
{
    return m_toolWatch && m_toolWatch->isLinked();
}

void CDumpServer::UpdateTime()
{
    if (m_view != nullptr)
        storeHeartbeat(m_view, currentUnixTime());
}

void CDumpServer::ClearTime()
{
    if (m_view != nullptr)
        storeHeartbeat(m_view, 0);
}

void CDumpServer::CloseShareMemory()
{
    if (m_view != nullptr) {
        UnmapViewOfFile(m_view);
        m_view = nullptr;
    }
    if (m_mapping != nullptr) {
        CloseHandle(m_mapping);
        m_mapping = nullptr;
    }
}

void CDumpServer::WriteWatchdogFile()
{
    const std::string path = pathRemoveLastPart(etlGetExeFileName()) + "/ume_watchdog.txt";
    QFile file(toQString(path, false));
    if (!file.open(QIODevice::ReadWrite | QIODevice::Text))
        return;
    file.write(GetLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toUtf8());
    file.close();
}
