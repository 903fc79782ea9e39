#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <string>

class QSocketNotifier;

// Links the program to the dump tool it started, from the event loop and never blocking: connects
// to the tool's socket as soon as the tool listens, then watches the connection so that the tool's
// end is noticed and reported, and the crash hook stops counting on it.
class DumpToolWatch : public QObject
{
    Q_OBJECT

public:
    explicit DumpToolWatch(QObject *parent = nullptr);
    ~DumpToolWatch() override;

    // Starts connecting; the tool has just been started and needs a moment to check us and listen.
    void start();
    bool isLinked() const;

private:
    void tryConnect();
    void linkReadable();
    void giveUp(const char *why);

    QTimer m_retry;
    QElapsedTimer m_since;
    QSocketNotifier *m_notifier = nullptr;
    std::string m_socketPath;
};
