#include "QEBridgeThreadLocal.h"

#include "QEBridge.h"

QEBridgeThreadLocal::QEBridgeThreadLocal(const std::string &name) : chThreadLocal(name) {}

QEBridgeThreadLocal::~QEBridgeThreadLocal() = default;

void QEBridgeThreadLocal::onMessageSignal(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t)
{
    QEBridge::instance().postDispatchEvent();
}
