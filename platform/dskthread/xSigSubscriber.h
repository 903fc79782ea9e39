#pragma once

class FunctorImpBase;

// Wraps a functor for chSignal::connect without owning it; the signal keeps its own clone.
class xSigSubscriber
{
public:
    explicit xSigSubscriber(const FunctorImpBase &functor) : m_functor(&functor) {}
    const FunctorImpBase &functor() const { return *m_functor; }

private:
    const FunctorImpBase *m_functor;
};
