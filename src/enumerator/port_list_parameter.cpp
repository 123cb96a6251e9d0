#include "enumerator/port_list_parameter.h"

#include "automation/array_shape.h"
#include "automation/byte_array.h"
#include "automation/hresult.h"

namespace tarn {
namespace {

bool IsStringArrayReference(VARTYPE vt) noexcept {
    return vt == (VT_BYREF | VT_ARRAY | VT_BSTR);
}

bool IsStringArray(VARTYPE vt) noexcept {
    return vt == (VT_ARRAY | VT_BSTR);
}

// The array of VARIANT strings a script receives for the list of BSTRs the
// method made (one dimension).
HRESULT ToVariantStrings(SAFEARRAY* strings, SAFEARRAY** out) noexcept {
    const LONG lower = DimensionLowerBound(strings, 1);
    SAFEARRAYBOUND bound{DimensionLength(strings, 1), 0};
    UniqueSafeArray variants(::SafeArrayCreate(VT_VARIANT, 1, &bound));
    if (!variants) return E_OUTOFMEMORY;
    for (LONG i = 0; i < static_cast<LONG>(bound.cElements); ++i) {
        LONG source = static_cast<LONG>(static_cast<ULONG>(lower) + static_cast<ULONG>(i));
        BSTR name = nullptr;
        RETURN_IF_FAILED(::SafeArrayGetElement(strings, &source, &name));  // a copy
        VARIANT element;
        element.vt = VT_BSTR;
        element.bstrVal = name;
        const HRESULT hr = ::SafeArrayPutElement(variants.get(), &i, &element);  // copies again
        ::SysFreeString(name);
        RETURN_IF_FAILED(hr);
    }
    *out = variants.release();
    return S_OK;
}

// A port list passed by value can receive nothing, and the method may
// destroy an array too small for the list: the caller's array stays out of
// its reach, and the list it makes is let go.
HRESULT InvokeWithListValue(const ScriptArrayCall& call, VARIANT& argument) noexcept {
    SAFEARRAY* discarded = nullptr;
    argument.vt = VT_BYREF | VT_ARRAY | VT_BSTR;
    argument.pparray = &discarded;
    const HRESULT hr = call.Invoke();
    UniqueSafeArray owned(discarded);
    return hr;
}

// The method fills a new list, which replaces what the variable held.
HRESULT InvokeWithListVariable(const ScriptArrayCall& call, VARIANT& argument, VARIANT& variable) noexcept {
    SAFEARRAY* list = nullptr;
    argument.vt = VT_BYREF | VT_ARRAY | VT_BSTR;
    argument.pparray = &list;
    HRESULT hr = call.Invoke();
    UniqueSafeArray owned(list);
    if (FAILED(hr) || !owned) return hr;
    // An array its owner pinned (For Each locks it; fixed arrays can't be
    // re-created) stays as it is.
    if ((variable.vt & VT_ARRAY) && !(variable.vt & VT_BYREF) && variable.parray &&
        (variable.parray->cLocks > 0 || IsFixedInPlace(variable.parray)))
        return E_INVALIDARG;
    SAFEARRAY* strings = nullptr;
    RETURN_IF_FAILED(ToVariantStrings(owned.get(), &strings));
    UniqueSafeArray converted(strings);
    // What the variable held goes only when it can be let go: never orphaned.
    RETURN_IF_FAILED(::VariantClear(&variable));
    strings = converted.release();
    variable.vt = VT_ARRAY | VT_VARIANT;
    variable.parray = strings;
    return hr;
}

}  // namespace

const ScriptArrayKind kPortList = {&IsStringArrayReference, &IsStringArray, &InvokeWithListValue,
                                   &InvokeWithListVariable};

}  // namespace tarn
