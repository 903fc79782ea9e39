#pragma once

#include <cstdint>

// Base of the functors that chSignal calls; the signal passes five 32-bit words.
class FunctorImpBase
{
public:
    virtual ~FunctorImpBase();
    virtual void invoke(uint32_t a0, uint32_t a1, uint32_t a2, uint32_t a3, uint32_t a4) = 0;
    virtual bool equals(const FunctorImpBase &other) const = 0;
    virtual FunctorImpBase *clone() const = 0;
    virtual void *target() const = 0;
    virtual int query() const;
    virtual bool isEmpty() const = 0;
};
