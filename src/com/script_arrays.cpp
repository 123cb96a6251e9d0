#include "com/script_arrays.h"

#include <vector>

#include "automation/array_shape.h"
#include "automation/byte_array.h"
#include "automation/hresult.h"
#include "com/positional_arguments.h"

namespace tarn {
namespace {

const ScriptArrayParameter* FindParameter(ScriptArrayTable arrays, DISPID id) noexcept {
    for (size_t i = 0; i < arrays.count; ++i) {
        if (arrays.entries[i].method == id) return &arrays.entries[i];
    }
    return nullptr;
}

// Argument lists that promise entries they do not have are refused before
// anything reads them, as the type information's own dispatch refuses them.
HRESULT CheckArgumentList(const DISPPARAMS* params) noexcept {
    if (!params) return E_INVALIDARG;
    if (params->cNamedArgs > params->cArgs) return E_INVALIDARG;
    if (params->cArgs > 0 && !params->rgvarg) return E_INVALIDARG;
    if (params->cNamedArgs > 0 && !params->rgdispidNamedArgs) return E_INVALIDARG;
    return S_OK;
}

// A DECIMAL's scale beyond 28 or a sign other than plus or minus: the
// platform's conversions of such a value read beyond their buffers.
bool IsMalformedDecimal(const DECIMAL* value) noexcept {
    return value && (value->scale > 28 || (value->sign != 0 && value->sign != DECIMAL_NEG));
}

// Values no conversion can take are refused before any conversion sees them.
HRESULT RefuseMalformedValues(const DISPPARAMS& params, UINT* argumentError) noexcept {
    for (UINT i = 0; i < params.cArgs; ++i) {
        const VARIANTARG& argument = params.rgvarg[i];
        const VARIANT* value = &argument;
        if (argument.vt == (VT_BYREF | VT_VARIANT)) value = argument.pvarVal;
        if (!value) continue;
        const bool malformed =
            (value->vt == VT_DECIMAL && IsMalformedDecimal(&value->decVal)) ||
            (value->vt == (VT_BYREF | VT_DECIMAL) && IsMalformedDecimal(value->pdecVal));
        if (malformed) {
            if (argumentError) *argumentError = i;
            return DISP_E_TYPEMISMATCH;
        }
    }
    return S_OK;
}

// Where the parameter at `position` stands in the arguments: named arguments
// first, then the positional ones from right to left.
VARIANT* FindArgument(const DISPPARAMS& params, UINT position) noexcept {
    for (UINT i = 0; i < params.cNamedArgs; ++i) {
        if (params.rgdispidNamedArgs[i] == static_cast<DISPID>(position)) return &params.rgvarg[i];
    }
    const UINT positional = params.cArgs - params.cNamedArgs;
    if (position >= positional) return nullptr;
    return &params.rgvarg[params.cArgs - 1 - position];
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

bool IsArrayReferenceOfKind(VARTYPE vt, ScriptArray kind) noexcept {
    if (kind == ScriptArray::PortList) return vt == (VT_BYREF | VT_ARRAY | VT_BSTR);
    return vt == (VT_BYREF | VT_ARRAY | VT_UI1) || vt == (VT_BYREF | VT_ARRAY | VT_I1);
}

// The call on an argument list of our own, in which the script forms are
// replaced by what the methods take.
HRESULT InvokeAdapted(ITypeInfo* info, ScriptArrayTable arrays, IDispatch* self, DISPID id, WORD flags,
                      DISPPARAMS& adapted, VARIANT* result, EXCEPINFO* exception, UINT* argumentError) noexcept {
    const ScriptArrayParameter* parameter = FindParameter(arrays, id);
    VARIANT* argument = parameter ? FindArgument(adapted, parameter->position) : nullptr;
    // Any other reference in an array parameter's place is refused here: the
    // type information's dispatch would hand its pointer on as an array.
    if (argument && (argument->vt & VT_BYREF) && argument->vt != (VT_BYREF | VT_VARIANT) &&
        !IsArrayReferenceOfKind(argument->vt, parameter->kind)) {
        if (argumentError) *argumentError = static_cast<UINT>(argument - adapted.rgvarg);
        return DISP_E_TYPEMISMATCH;
    }
    // A byte array passed by value to an in-place parameter: the type
    // information's dispatch would destroy the caller's array after the call.
    // The method gets it by reference instead and works on it in place.
    SAFEARRAY* byValue = nullptr;
    if (argument && parameter->kind == ScriptArray::BytesInPlace &&
        (argument->vt == (VT_ARRAY | VT_UI1) || argument->vt == (VT_ARRAY | VT_I1))) {
        byValue = argument->parray;
        argument->vt = VT_BYREF | VT_ARRAY | VT_UI1;
        argument->pparray = &byValue;
    }
    // A port list passed by value can receive nothing, and the method may
    // destroy an array too small for the list: the caller's array stays out of
    // its reach, and the list it makes is let go.
    if (argument && parameter->kind == ScriptArray::PortList && argument->vt == (VT_ARRAY | VT_BSTR)) {
        SAFEARRAY* discarded = nullptr;
        argument->vt = VT_BYREF | VT_ARRAY | VT_BSTR;
        argument->pparray = &discarded;
        const HRESULT hr = info->Invoke(self, id, flags, &adapted, result, exception, argumentError);
        UniqueSafeArray owned(discarded);
        return hr;
    }
    // Anything else passed by value: the type information's dispatch converts
    // it for the call and afterwards writes the parameter back into the
    // argument, letting go of what it held, the caller's value.  It writes
    // into a copy of our own instead, let go after the call.
    if (argument && !(argument->vt & VT_BYREF)) {
        VARIANTARG copy;
        ::VariantInit(&copy);
        if (FAILED(::VariantCopy(&copy, argument))) {
            if (argumentError) *argumentError = static_cast<UINT>(argument - adapted.rgvarg);
            return DISP_E_TYPEMISMATCH;
        }
        *argument = copy;
        const HRESULT hr = info->Invoke(self, id, flags, &adapted, result, exception, argumentError);
        ::VariantClear(argument);
        return hr;
    }
    if (!argument || argument->vt != (VT_BYREF | VT_VARIANT) || !argument->pvarVal)
        return info->Invoke(self, id, flags, &adapted, result, exception, argumentError);

    VARIANT* variable = argument->pvarVal;
    if (parameter->kind == ScriptArray::BytesInPlace) {
        if (variable->vt == (VT_ARRAY | VT_UI1) || variable->vt == (VT_ARRAY | VT_I1)) {
            argument->vt = VT_BYREF | VT_ARRAY | VT_UI1;
            argument->pparray = &variable->parray;
        } else if (variable->vt == (VT_BYREF | VT_ARRAY | VT_UI1) ||
                   variable->vt == (VT_BYREF | VT_ARRAY | VT_I1)) {
            argument->vt = VT_BYREF | VT_ARRAY | VT_UI1;
            argument->pparray = variable->pparray;
        }
        return info->Invoke(self, id, flags, &adapted, result, exception, argumentError);
    }

    // The port list: the method fills a new list, which replaces what the variable held.
    SAFEARRAY* list = nullptr;
    argument->vt = VT_BYREF | VT_ARRAY | VT_BSTR;
    argument->pparray = &list;
    HRESULT hr = info->Invoke(self, id, flags, &adapted, result, exception, argumentError);
    UniqueSafeArray owned(list);
    if (FAILED(hr) || !owned) return hr;
    // An array its owner pinned (For Each locks it; fixed arrays can't be
    // re-created) stays as it is.
    if ((variable->vt & VT_ARRAY) && !(variable->vt & VT_BYREF) && variable->parray &&
        (variable->parray->cLocks > 0 || IsFixedInPlace(variable->parray)))
        return E_INVALIDARG;
    SAFEARRAY* strings = nullptr;
    RETURN_IF_FAILED(ToVariantStrings(owned.get(), &strings));
    UniqueSafeArray converted(strings);
    // What the variable held goes only when it can be let go: never orphaned.
    RETURN_IF_FAILED(::VariantClear(variable));
    strings = converted.release();
    variable->vt = VT_ARRAY | VT_VARIANT;
    variable->parray = strings;
    return hr;
}

}  // namespace

HRESULT InvokeWithScriptArrays(ITypeInfo* info, ScriptArrayTable arrays, IDispatch* self, DISPID id, WORD flags,
                               DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                               UINT* argumentError) noexcept {
    RETURN_IF_FAILED(CheckArgumentList(params));
    RETURN_IF_FAILED(RefuseMalformedValues(*params, argumentError));
    // The call gets a copy of the argument list, every argument in its
    // parameter's place; the caller's list stays as it came: the type
    // information's dispatch empties an array passed by value for an in-out
    // parameter, and the script forms replace an argument.
    PositionalArguments arranged;
    RETURN_IF_FAILED(arranged.Arrange(info, id, flags, *params, argumentError));
    const HRESULT hr =
        InvokeAdapted(info, arrays, self, id, flags, *arranged.Params(), result, exception, argumentError);
    if (argumentError && (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND))
        *argumentError = arranged.CallerIndex(*argumentError);
    return hr;
}

}  // namespace tarn
