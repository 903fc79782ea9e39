#pragma once

#include <sys/types.h>

#include <string>

struct CrashNotice;

// The dump tool's side of the private connection to its target: a socket in the user's runtime
// folder that only the target itself may use, through which the target's crash hook reports a fault.
class CrashListener
{
public:
    enum class Event
    {
        Notice,      // the target reported a fault
        TargetGone,  // the target has ended
        Interrupted, // the tool was asked to end
        Failed
    };

    explicit CrashListener(pid_t target);
    // Closes everything and removes the socket.
    ~CrashListener();

    bool listen(const std::string &folder, std::string *error);
    // Waits for the next event; connections from anybody but the target are turned away meanwhile.
    Event wait(CrashNotice *notice);
    // Tells the target's hook that it may go on.
    void answer();

    // Async-signal-safe: wait() returns Interrupted at its next wake-up.
    static void requestStop();

    CrashListener(const CrashListener &) = delete;
    CrashListener &operator=(const CrashListener &) = delete;

private:
    void accept();
    bool readNotice(CrashNotice *notice);

    pid_t m_target;
    std::string m_path;
    int m_listener = -1;
    int m_client = -1;
    int m_pidfd = -1;
};
