#include "QEBridge.h"

#include "ETLLib.h"
#include "ETLMessageAdapter.h"
#include "MemberSlotFunctionImp.h"
#include "chSignal.h"
#include "dskthread.h"
#include "xSigSubscriber.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <QTimer>

namespace {
constexpr QEvent::Type kDispatchEvent = static_cast<QEvent::Type>(1000);
}

QEBridge &QEBridge::instance()
{
    static QEBridge bridge;
    return bridge;
}

QEBridge::QEBridge() : QObject(nullptr), m_timer(nullptr), m_threadLocal("ui_thread") {}

QEBridge::~QEBridge() = default;

void QEBridge::initBridge()
{
    m_threadLocal.AttachCurrentThread();

    if (chIsSocketEvent()) {
        const int socket = *static_cast<int *>(m_threadLocal.wakeSource);
        if (socket >= 0) {
            auto *notifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
            connect(notifier, SIGNAL(activated(int)), this, SLOT(slotETLSocketActived(int)));
        } else {
            etlModuleTrace(3, "E:QEBridge", "ui_thread has no wake-up socket; relying on idle checks");
        }
    } else {
        MemberSlotFunctionImp<QEBridgeThreadLocal> functor(&m_threadLocal,
                                                           &QEBridgeThreadLocal::onMessageSignal);
        static_cast<chSignal *>(m_threadLocal.wakeSource)->connect(xSigSubscriber(functor));
    }

    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, SIGNAL(timeout()), this, SLOT(timeout()));
    m_timer->start(0);

    connect(QAbstractEventDispatcher::instance(), SIGNAL(aboutToBlock()), this, SLOT(aboutToBlock()));
    connect(QCoreApplication::instance(), SIGNAL(aboutToQuit()), this, SLOT(aboutToQuit()));

    ETLMessageAdapter::instance();
}

void QEBridge::releaseBridge()
{
    ETLMessageAdapter::releaseInstance();
    m_threadLocal.DetachThread();
    if (m_timer) {
        m_timer->deleteLater();
        m_timer = nullptr;
    }
}

bool QEBridge::event(QEvent *event)
{
    if (event->type() == kDispatchEvent) {
        dispatchRun();
        return true;
    }
    return QObject::event(event);
}

void QEBridge::aboutToBlock()
{
    if (m_threadLocal.HasMessageQueued()) {
        postDispatchEvent();
        return;
    }
    const int ticks = m_threadLocal.GetNextTimerTicks();
    if (ticks == 0) {
        postDispatchEvent();
    } else if (ticks > 0 && m_timer) {
        m_timer->start(ticks);
    }
}

void QEBridge::aboutToQuit()
{
    if (m_timer) {
        m_timer->stop();
    }
    m_threadLocal.loopActive = 0;
}

void QEBridge::timeout()
{
    dispatchRun();
}

void QEBridge::slotETLSocketActived(int socket)
{
    char buffer[64];
    while (sockRecv(socket, buffer, 64, 0) > 0) {
    }
    postDispatchEvent();
}

void QEBridge::dispatchRun()
{
    m_dispatchRuns.fetch_add(1, std::memory_order_relaxed);
    if (m_timer) {
        m_timer->stop();
    }
    for (;;) {
        if (m_threadLocal.DispatchQueuedMessage(0) == CH_QUEUE_QUIT) {
            etlModuleTrace(5, "N:QEBridge", "ui_thread etl message queue quit.");
            return;
        }
        const int32_t next = m_threadLocal.nextWaitTicks;
        if (next == 0) {
            continue;
        }
        if (next > 0 && m_timer) {
            m_timer->start(next);
        }
        return;
    }
}

void QEBridge::postDispatchEvent()
{
    m_dispatchEventsPosted.fetch_add(1, std::memory_order_relaxed);
    QCoreApplication::postEvent(this, new QEvent(kDispatchEvent), 0);
}
