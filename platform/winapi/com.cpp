#include "winapi.h"

namespace {

struct Apartment
{
    int count = 0;
    DWORD kind = 0;
};
thread_local Apartment t_apartment;

} // namespace

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit)
{
    if (reserved) {
        return E_INVALIDARG;
    }
    const DWORD kind = coInit & COINIT_APARTMENTTHREADED;
    if (t_apartment.count == 0) {
        t_apartment.kind = kind;
        t_apartment.count = 1;
        return S_OK;
    }
    if (t_apartment.kind != kind) {
        return RPC_E_CHANGED_MODE;
    }
    ++t_apartment.count;
    return S_FALSE;
}

void CoUninitialize()
{
    if (t_apartment.count > 0) {
        --t_apartment.count;
    }
}
