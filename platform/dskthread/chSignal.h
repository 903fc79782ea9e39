#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class FunctorImpBase;
class xSigSubscriber;

// A signal that calls its subscribers on the emitting thread.
class chSignal
{
public:
    chSignal();
    ~chSignal();

    bool connect(const xSigSubscriber &subscriber);
    bool disconnect(const xSigSubscriber &subscriber);
    void emit(uint32_t a0 = 0, uint32_t a1 = 0, uint32_t a2 = 0, uint32_t a3 = 0, uint32_t a4 = 0);
    int subscriberCount() const;

    chSignal(const chSignal &) = delete;
    chSignal &operator=(const chSignal &) = delete;

private:
    mutable std::mutex m_lock;
    std::vector<std::shared_ptr<FunctorImpBase>> m_subscribers;
};
