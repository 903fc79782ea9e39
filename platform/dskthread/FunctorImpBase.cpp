#include "FunctorImpBase.h"

FunctorImpBase::~FunctorImpBase() = default;

int FunctorImpBase::query() const
{
    return 0;
}
