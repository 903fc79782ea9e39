#pragma once

#include "winapi.h"

#include <cstdint>
#include <memory>
#include <string>

class DumpToolWatch;

// Owns the heartbeat record and starts the outside dump tool or watchdog.
class CDumpServer
{
public:
    CDumpServer();
    virtual ~CDumpServer();

    bool OpenShareMemory();
    bool StartDumpProcess(const std::string &watchdogPath, DWORD processId, const std::string &dumpNamePrefix,
                          const std::string &dumpToolPath, const std::string &logFolder, bool dumpMode);
    void UpdateTime();
    void ClearTime();
    void CloseShareMemory();
    void WriteWatchdogFile();

    bool isMapped() const { return m_view != nullptr; }
    // The dump tool started in dump mode is connected and waiting for a crash.
    bool isDumpToolLinked() const;
    bool hasHandle() const { return m_mapping != nullptr; }

    // The command line StartDumpProcess would start; empty when it cannot be built safely.
    static std::string buildCommandLine(const std::string &watchdogPath, DWORD processId,
                                        const std::string &dumpNamePrefix, const std::string &dumpToolPath,
                                        const std::string &logFolder, bool dumpMode, const SYSTEMTIME &now);
    static std::string recordName(DWORD processId);

private:
    HANDLE m_mapping;
    int64_t *m_view;
    std::unique_ptr<DumpToolWatch> m_toolWatch;
};
