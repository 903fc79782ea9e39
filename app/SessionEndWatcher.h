#pragma once

#include <QObject>

#include <signal.h>

class QSocketNotifier;

// Turns the signals a desktop session, a terminal or a user sends to end the program (SIGTERM, SIGHUP,
// SIGINT) into the same quit the tray menu gives, so the whole orderly shutdown runs. The handler only
// writes the signal number into a pipe; the event loop reads it on the GUI thread.
class SessionEndWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SessionEndWatcher(QObject *parent = nullptr);
    ~SessionEndWatcher() override;

    // Catches the three signals, except one that was ignored when the process started (nohup, a
    // background job): that choice of the caller stands. false, with a trace, when the pipe cannot be made.
    bool install();
    // A write to a pipe or socket nobody reads fails with EPIPE instead of ending the process.
    static void ignoreBrokenPipe();

    SessionEndWatcher(const SessionEndWatcher &) = delete;
    SessionEndWatcher &operator=(const SessionEndWatcher &) = delete;

private:
    void readSignals();
    void quitWhenLoopRuns();
    void uninstall();

    static const int kSignals[3];

    QSocketNotifier *m_notifier = nullptr;
    int m_pipe[2] = {-1, -1};
    struct sigaction m_previous[3];
    bool m_caught[3] = {false, false, false};
    bool m_ending = false;
};
