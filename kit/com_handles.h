// The kit's handles are the library's: ComPtr, UniqueBstr, UniqueSafeArray,
// SafeArrayDataAccess, CriticalSection and Lock, RETURN_IF_FAILED.  Only what
// the library has no use for lives here.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <ocidl.h>
#include <cguid.h>
#include <olectl.h>

#include <new>

#include "automation/byte_array.h"
#include "automation/hresult.h"
#include "automation/unique_bstr.h"
#include "platform/com_ptr.h"
#include "platform/critical_section.h"

namespace tarnkit {

using tarn::ComPtr;
using tarn::CriticalSection;
using tarn::Lock;
using tarn::SafeArrayDataAccess;
using tarn::UniqueBstr;
using tarn::UniqueSafeArray;

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

}  // namespace tarnkit
