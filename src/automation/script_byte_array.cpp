#include "automation/script_byte_array.h"

#include <cwchar>

namespace tarn {

HRESULT ScriptByteArrayInput::Open(const VARIANT& argument) {
    const VARIANT* value = &argument;
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
    // The byte-array input reads arrays passed by value: a reference is read through.
    VARIANT byValue;
    byValue.vt = type;
    byValue.parray = (value->vt & VT_BYREF) ? (value->pparray ? *value->pparray : nullptr) : value->parray;
    if (!byValue.parray) {
        problem_ = L"The byte array is missing (null array)";
        return E_INVALIDARG;
    }
    if (::SafeArrayGetDim(byValue.parray) != 1) {
        problem_ = L"A byte array must have exactly one dimension";
        return E_INVALIDARG;
    }
    input_.emplace(byValue, Dimensions::ExactlyOne);
    if (!input_->ok()) {
        input_.reset();
        problem_ = L"The byte array's data cannot be accessed (it is locked)";
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT NewByteArray::Create(ULONG count) noexcept {
    if (count > 0x7FFFFFFFu) return E_OUTOFMEMORY;  // beyond what an array's bound can hold
    array_ = CreateByteArray(static_cast<LONG>(count));
    if (!array_) return E_OUTOFMEMORY;
    access_.emplace(array_.get());
    if (!access_->ok()) return E_OUTOFMEMORY;
    return S_OK;
}

void NewByteArray::HandOut(VARIANT* out) noexcept {
    access_.reset();
    HandOutByteArray(std::move(array_), out);
}

}  // namespace tarn
