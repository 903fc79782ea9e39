#pragma once

#include "QEBridgeThreadLocal.h"

#include <QObject>

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

public slots:
    void aboutToBlock();
    void aboutToQuit();
    void timeout();
    void slotETLSocketActived(int socket);

private:
    QEBridge();
    ~QEBridge() override;
    void dispatchRun();
    void postDispatchEvent();

    QTimer *m_timer;
    QEBridgeThreadLocal m_threadLocal;
};
