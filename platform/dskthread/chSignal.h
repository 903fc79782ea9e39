#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class FunctorImpBase;
class xSigSubscriber;

// Qt defines "emit" as an empty macro; keep it from eating the member's name when this header follows
// a Qt header. Qt code calls the member with the macro out of the way (#undef emit or QT_NO_KEYWORDS).
#pragma push_macro("emit")
#undef emit

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

#pragma pop_macro("emit")
