// COM for the calling thread, in a single-threaded apartment, for the holder's
// lifetime. Uninitialises only what it initialised: a thread already in another
// apartment (RPC_E_CHANGED_MODE) is left as it was.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace qx {

class com_apartment {
public:
    com_apartment() noexcept : m_hr(::CoInitialize(nullptr)) { }
    com_apartment(const com_apartment&) = delete;
    com_apartment& operator=(const com_apartment&) = delete;
    ~com_apartment()
    {
        if (SUCCEEDED(m_hr)) {
            ::CoUninitialize();
        }
    }
    HRESULT result() const noexcept { return m_hr; }

private:
    HRESULT m_hr;
};

} // namespace qx
