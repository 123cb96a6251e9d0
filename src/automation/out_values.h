#pragma once
// How values leave the library through out-parameters.
#include <windows.h>
#include <oleauto.h>

namespace tarn {

// Success flags are 1 and 0, not VARIANT_TRUE (-1): clients test them for non-zero.
inline void SetSuccessFlag(VARIANT_BOOL* flag, bool success) noexcept {
    *flag = success ? 1 : 0;
}

// A new copy of `text` for the caller; on allocation failure the caller gets
// null and E_OUTOFMEMORY.
inline HRESULT HandOutString(const wchar_t* text, UINT length, BSTR* out) noexcept {
    if (!out) return E_POINTER;
    *out = ::SysAllocStringLen(text, length);
    return *out ? S_OK : E_OUTOFMEMORY;
}

template <class T>
HRESULT HandOutScalar(T value, T* out) noexcept {
    if (!out) return E_POINTER;
    *out = value;
    return S_OK;
}

}  // namespace tarn
