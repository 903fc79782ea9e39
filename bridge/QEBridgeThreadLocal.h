#pragma once

#include "chThreadLocal.h"

#include <cstdint>

class QEBridge;

// The "ui_thread" object; it is only ever attached to the GUI thread, never started.
class QEBridgeThreadLocal : public chThreadLocal
{
    friend class QEBridge;

public:
    explicit QEBridgeThreadLocal(const std::string &name);
    ~QEBridgeThreadLocal() override;

    // Receiver for the signal wake-up path; runs on the posting thread.
    void onMessageSignal(uint32_t a0, uint32_t a1, uint32_t a2, uint32_t a3, uint32_t a4);
};
