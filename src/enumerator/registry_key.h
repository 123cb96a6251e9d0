#pragma once
// Holds one open registry key, or none.
#include <windows.h>
#include <oaidl.h>

namespace tarn {

class RegistryKey {
public:
    RegistryKey() noexcept = default;
    ~RegistryKey() { Close(); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Opens `name` beneath `parent`.  On success the key held before is closed
    // and the new one held; on failure the held key stays.  Returns the
    // platform's status (ERROR_SUCCESS on success).
    LONG Open(HKEY parent, const wchar_t* name, REGSAM access) noexcept;
    // Opens `name` beneath the key held now (fails when none is held).
    LONG OpenBeneath(const wchar_t* name, REGSAM access) noexcept;
    void Close() noexcept;

    bool IsOpen() const noexcept { return key_ != nullptr; }
    // Number of values in `count`; 0 when no key is held or the count can't be
    // read.  E_OUTOFMEMORY (count 0) when the read ran out of memory.
    HRESULT ValueCount(DWORD& count) const noexcept;
    // The value at `index`: VT_BSTR for a string (up to its first NUL, or the end
    // of its data when it has none), VT_I4 for a DWORD, VT_EMPTY otherwise or
    // when the value can't be read (it vanished meanwhile).  E_OUTOFMEMORY
    // (VT_EMPTY) when memory ran out, which is no reason to leave a value out.
    // The caller clears the VARIANT.
    HRESULT ValueAt(DWORD index, VARIANT* value) const noexcept;

private:
    HKEY key_ = nullptr;
};

}  // namespace tarn
