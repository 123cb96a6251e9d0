#include "enumerator/registry_key.h"

#include <oleauto.h>

#include <memory>
#include <new>

namespace tarn {

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

DWORD RegistryKey::ValueCount() const noexcept {
    if (!key_) return 0;
    DWORD count = 0;
    if (::RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                           nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return 0;
    return count;
}

void RegistryKey::ValueAt(DWORD index, VARIANT* value) const noexcept {
    ::VariantInit(value);
    if (!key_) return;
    DWORD longestName = 0, largestData = 0;
    if (::RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           &longestName, &largestData, nullptr, nullptr) != ERROR_SUCCESS)
        return;

    DWORD nameLength = longestName + 1;
    DWORD dataSize = 2 * largestData + 2;
    std::unique_ptr<wchar_t[]> name(new (std::nothrow) wchar_t[nameLength]);
    // Whole wide characters, zero-filled, so string data always ends inside the buffer.
    std::unique_ptr<wchar_t[]> data(new (std::nothrow) wchar_t[dataSize / 2 + 1]());
    if (!name || !data) return;

    DWORD type = REG_NONE;
    if (::RegEnumValueW(key_, index, name.get(), &nameLength, nullptr, &type,
                        reinterpret_cast<BYTE*>(data.get()), &dataSize) != ERROR_SUCCESS)
        return;  // the value vanished meanwhile

    if (type == REG_SZ) {
        const size_t characters = wcsnlen(data.get(), dataSize / sizeof(wchar_t));
        value->bstrVal = ::SysAllocStringLen(data.get(), static_cast<UINT>(characters));
        if (value->bstrVal) value->vt = VT_BSTR;
    } else if (type == REG_DWORD && dataSize >= sizeof(DWORD)) {
        value->vt = VT_I4;
        value->lVal = *reinterpret_cast<const LONG*>(data.get());
    }
}

}  // namespace tarn
