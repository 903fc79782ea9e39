#include "chSignal.h"

#include "FunctorImpBase.h"
#include "xSigSubscriber.h"

chSignal::chSignal() = default;

chSignal::~chSignal() = default;

bool chSignal::connect(const xSigSubscriber &subscriber)
{
    const FunctorImpBase &functor = subscriber.functor();
    if (functor.isEmpty()) {
        return false;
    }
    std::shared_ptr<FunctorImpBase> copy(functor.clone());
    if (!copy) {
        return false;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    for (const auto &existing : m_subscribers) {
        if (existing->equals(functor)) {
            return false;
        }
    }
    m_subscribers.push_back(std::move(copy));
    return true;
}

bool chSignal::disconnect(const xSigSubscriber &subscriber)
{
    const FunctorImpBase &functor = subscriber.functor();
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto it = m_subscribers.begin(); it != m_subscribers.end(); ++it) {
        if ((*it)->equals(functor)) {
            m_subscribers.erase(it);
            return true;
        }
    }
    return false;
}

void chSignal::emit(uint32_t a0, uint32_t a1, uint32_t a2, uint32_t a3, uint32_t a4)
{
    // Subscribers run without the lock held, so one may connect or disconnect from inside its call.
    std::vector<std::shared_ptr<FunctorImpBase>> subscribers;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_subscribers.empty()) {
            return;
        }
        subscribers = m_subscribers;
    }
    for (const auto &functor : subscribers) {
        functor->invoke(a0, a1, a2, a3, a4);
    }
}

int chSignal::subscriberCount() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<int>(m_subscribers.size());
}
