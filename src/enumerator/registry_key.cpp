#include "enumerator/registry_key.h"

#include <oleauto.h>

#include <memory>
#include <new>

namespace tarn {

namespace {
// A read that ran out of memory fails the caller; any other failure means the
// value (or the count) is not there to read.
HRESULT ReadOutcome(LONG status) noexcept {
    if (status == ERROR_NOT_ENOUGH_MEMORY || status == ERROR_OUTOFMEMORY) return E_OUTOFMEMORY;
    return status == ERROR_SUCCESS ? S_OK : S_FALSE;
}
}  // namespace

LONG RegistryKey::Open(HKEY parent, const wchar_t* name, REGSAM access) noexcept {
    if (!parent) return ERROR_INVALID_HANDLE;
    HKEY opened = nullptr;
    const LONG status = ::RegOpenKeyExW(parent, name, 0, access, &opened);
    if (status != ERROR_SUCCESS) return status;
    Close();
    key_ = opened;
    return status;
}

LONG RegistryKey::OpenBeneath(const wchar_t* name, REGSAM access) noexcept {
    return Open(key_, name, access);
}

void RegistryKey::Close() noexcept {
    if (key_) ::RegCloseKey(key_);
    key_ = nullptr;
}

HRESULT RegistryKey::ValueCount(DWORD& count) const noexcept {
    count = 0;
    if (!key_) return S_OK;
    const HRESULT read = ReadOutcome(::RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                        nullptr, &count, nullptr, nullptr, nullptr, nullptr));
    if (read != S_OK) count = 0;
    return read == E_OUTOFMEMORY ? read : S_OK;
}

HRESULT RegistryKey::ValueAt(DWORD index, VARIANT* value) const noexcept {
    ::VariantInit(value);
    if (!key_) return S_OK;
    DWORD longestName = 0, largestData = 0;
    HRESULT read = ReadOutcome(::RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                  nullptr, &longestName, &largestData, nullptr, nullptr));
    if (read != S_OK) return read == E_OUTOFMEMORY ? read : S_OK;

    DWORD nameLength = longestName + 1;
    DWORD dataSize = 2 * largestData + 2;
    std::unique_ptr<wchar_t[]> name(new (std::nothrow) wchar_t[nameLength]);
    // Whole wide characters, zero-filled, so string data always ends inside the buffer.
    std::unique_ptr<wchar_t[]> data(new (std::nothrow) wchar_t[dataSize / 2 + 1]());
    if (!name || !data) return E_OUTOFMEMORY;

    DWORD type = REG_NONE;
    read = ReadOutcome(::RegEnumValueW(key_, index, name.get(), &nameLength, nullptr, &type,
                                       reinterpret_cast<BYTE*>(data.get()), &dataSize));
    if (read != S_OK) return read == E_OUTOFMEMORY ? read : S_OK;  // otherwise it vanished meanwhile

    if (type == REG_SZ) {
        const size_t characters = wcsnlen(data.get(), dataSize / sizeof(wchar_t));
        value->bstrVal = ::SysAllocStringLen(data.get(), static_cast<UINT>(characters));
        if (!value->bstrVal) return E_OUTOFMEMORY;
        value->vt = VT_BSTR;
    } else if (type == REG_DWORD && dataSize >= sizeof(DWORD)) {
        value->vt = VT_I4;
        value->lVal = *reinterpret_cast<const LONG*>(data.get());
    }
    return S_OK;
}

}  // namespace tarn
