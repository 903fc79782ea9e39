#pragma once

#include "FunctorImpBase.h"

#include <cstdint>

// Binds a member operation of T taking the signal's five words to one object of T.
template <class T> class MemberSlotFunctionImp : public FunctorImpBase
{
public:
    typedef void (T::*Member)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);

    MemberSlotFunctionImp(T *target, Member member) : m_member(member), m_target(target) {}
    ~MemberSlotFunctionImp() override = default;

    void invoke(uint32_t a0, uint32_t a1, uint32_t a2, uint32_t a3, uint32_t a4) override
    {
        if (m_target && m_member) {
            (m_target->*m_member)(a0, a1, a2, a3, a4);
        }
    }
    bool equals(const FunctorImpBase &other) const override
    {
        const auto *same = dynamic_cast<const MemberSlotFunctionImp *>(&other);
        return same && same->m_member == m_member && same->m_target == m_target;
    }
    FunctorImpBase *clone() const override { return new MemberSlotFunctionImp(m_target, m_member); }
    void *target() const override { return m_target; }
    bool isEmpty() const override { return m_target == nullptr; }

private:
    Member m_member;
    T *m_target;
};
