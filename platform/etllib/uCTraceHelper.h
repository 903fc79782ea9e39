#pragma once

// Process-wide trace level and destination.
class uCTraceHelper
{
public:
    static uCTraceHelper &getInstance();

    int ResetTraceLevel(int level);
    int GetTraceLevel() const;
    // Lines go to standard error.
    int RedirectToConsole();
    // Lines go to <doc>/log/tarn-desktop.log, owner-only, rotated at 8 MiB keeping four old files.
    int RedirectToShareMemory();

    uCTraceHelper(const uCTraceHelper &) = delete;
    uCTraceHelper &operator=(const uCTraceHelper &) = delete;

private:
    uCTraceHelper() = default;
};
