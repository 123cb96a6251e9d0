#include "byte_array.h"

#include <cwchar>

namespace tarnkit {

HRESULT ByteArrayArg::open(const VARIANT& arg)
{
    const VARIANT* value = &arg;
    // VBScript hands variables over as references to VARIANTs, possibly nested.
    for (int depth = 0; value->vt == (VT_BYREF | VT_VARIANT) && depth < 4; ++depth) {
        if (!value->pvarVal) break;
        value = value->pvarVal;
    }

    const VARTYPE type = value->vt & ~VT_BYREF;
    if (type != (VT_ARRAY | VT_UI1) && type != (VT_ARRAY | VT_I1)) {
        wchar_t text[120];
        swprintf(text, 120, L"Expected a byte array (variant type 0x2011 or 0x2010), got variant type 0x%04X",
                 static_cast<unsigned>(value->vt));
        problem_ = text;
        return DISP_E_TYPEMISMATCH;
    }
    SAFEARRAY* array = (value->vt & VT_BYREF) ? (value->pparray ? *value->pparray : nullptr)
                                              : value->parray;
    if (!array) {
        problem_ = L"The byte array is missing (null array)";
        return E_INVALIDARG;
    }
    if (SafeArrayGetDim(array) != 1) {
        problem_ = L"A byte array must have exactly one dimension";
        return E_INVALIDARG;
    }
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    lock_.emplace(array);
    if (!lock_->ok()) {
        lock_.reset();
        problem_ = L"The byte array's data cannot be accessed (it is locked)";
        return E_INVALIDARG;
    }
    data_ = lock_->bytes();
    // The upper bound wraps with the count for lower bounds near the limit;
    // the difference modulo 2^32 is the element count for every lower bound.
    size_ = static_cast<ULONG>(upper) - static_cast<ULONG>(lower) + 1u;
    return S_OK;
}

HRESULT NewByteArray::create(ULONG count)
{
    SAFEARRAYBOUND bound{count, 0};
    array_.reset(SafeArrayCreate(VT_UI1, 1, &bound));
    if (!array_.get()) return E_OUTOFMEMORY;
    lock_.emplace(array_.get());
    if (!lock_->ok()) return E_OUTOFMEMORY;
    return S_OK;
}

void NewByteArray::moveTo(VARIANT* out)
{
    lock_.reset();
    out->vt = VT_ARRAY | VT_UI1;
    out->parray = array_.release();
}

}  // namespace tarnkit
