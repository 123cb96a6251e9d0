// RAII owners for the Automation values the kit hands around: BSTR, VARIANT,
// SAFEARRAY (and its data lock).  Interface pointers use Microsoft::WRL::ComPtr.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <ocidl.h>
#include <cguid.h>
#include <olectl.h>
#include <wrl/client.h>

#include <new>

#define RETURN_IF_FAILED(expr)                 \
    do {                                       \
        const HRESULT hr_ = (expr);            \
        if (FAILED(hr_)) return hr_;           \
    } while (0)

namespace tarnkit {

using Microsoft::WRL::ComPtr;

// Runs a method body so that no exception crosses the interface.
template <class Body>
HRESULT NoThrow(Body&& body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

class UniqueBstr {
public:
    UniqueBstr() = default;
    explicit UniqueBstr(BSTR owned) : value_(owned) {}
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    ~UniqueBstr() { SysFreeString(value_); }

    BSTR get() const { return value_; }
    BSTR* put() { SysFreeString(value_); value_ = nullptr; return &value_; }
    BSTR release() { BSTR v = value_; value_ = nullptr; return v; }
    UINT length() const { return SysStringLen(value_); }

private:
    BSTR value_ = nullptr;
};

class UniqueVariant {
public:
    UniqueVariant() { VariantInit(&value_); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    ~UniqueVariant() { VariantClear(&value_); }

    VARIANT* get() { return &value_; }
    // Hands the value over to `out`, which must be empty (an out-parameter).
    void moveTo(VARIANT* out) { *out = value_; VariantInit(&value_); }

private:
    VARIANT value_;
};

class UniqueSafeArray {
public:
    UniqueSafeArray() = default;
    explicit UniqueSafeArray(SAFEARRAY* owned) : value_(owned) {}
    UniqueSafeArray(const UniqueSafeArray&) = delete;
    UniqueSafeArray& operator=(const UniqueSafeArray&) = delete;
    ~UniqueSafeArray() { if (value_) SafeArrayDestroy(value_); }

    SAFEARRAY* get() const { return value_; }
    SAFEARRAY* release() { SAFEARRAY* v = value_; value_ = nullptr; return v; }
    void reset(SAFEARRAY* owned)
    {
        if (value_) SafeArrayDestroy(value_);
        value_ = owned;
    }

private:
    SAFEARRAY* value_ = nullptr;
};

// Holds an array's data locked (SafeArrayAccessData) for its lifetime.
class SafeArrayData {
public:
    explicit SafeArrayData(SAFEARRAY* array) : array_(array)
    {
        if (FAILED(SafeArrayAccessData(array_, &data_))) { array_ = nullptr; data_ = nullptr; }
    }
    SafeArrayData(const SafeArrayData&) = delete;
    SafeArrayData& operator=(const SafeArrayData&) = delete;
    ~SafeArrayData() { if (array_) SafeArrayUnaccessData(array_); }

    bool ok() const { return array_ != nullptr; }
    BYTE* bytes() const { return static_cast<BYTE*>(data_); }

private:
    SAFEARRAY* array_;
    void* data_ = nullptr;
};

class CriticalSection {
public:
    CriticalSection() { InitializeCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    ~CriticalSection() { DeleteCriticalSection(&section_); }
    void lock() { EnterCriticalSection(&section_); }
    void unlock() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

}  // namespace tarnkit
