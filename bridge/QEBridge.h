#pragma once

#include "QEBridgeThreadLocal.h"

#include <QObject>

#include <atomic>
#include <cstdint>

class QTimer;

// Drives the in-house "ui_thread" queue from the Qt event loop of the GUI thread.
class QEBridge : public QObject
{
    Q_OBJECT
public:
    static QEBridge &instance();

    void initBridge();
    void releaseBridge();

    bool event(QEvent *event) override;

    QTimer *timer() const { return m_timer; }
    QEBridgeThreadLocal &threadLocal() { return m_threadLocal; }

    // Counters for diagnostics and tests: dispatch events posted, dispatch runs performed.
    uint64_t dispatchEventsPosted() const { return m_dispatchEventsPosted.load(std::memory_order_relaxed); }
    uint64_t dispatchRuns() const { return m_dispatchRuns.load(std::memory_order_relaxed); }

public slots:
    void aboutToBlock();
    void aboutToQuit();
    void timeout();
    void slotETLSocketActived(int socket);

private:
    friend class QEBridgeThreadLocal;

    QEBridge();
    ~QEBridge() override;
    void dispatchRun();
    void postDispatchEvent();

    QTimer *m_timer;
    QEBridgeThreadLocal m_threadLocal;
    std::atomic<uint64_t> m_dispatchEventsPosted{0};
    std::atomic<uint64_t> m_dispatchRuns{0};
};
