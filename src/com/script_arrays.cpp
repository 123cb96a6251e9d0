#include "com/script_arrays.h"

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

bool IsByteArray(VARTYPE vt) noexcept {
    return vt == (VT_ARRAY | VT_UI1) || vt == (VT_ARRAY | VT_I1);
}

bool IsByteArrayReference(VARTYPE vt) noexcept {
    return vt == (VT_BYREF | VT_ARRAY | VT_UI1) || vt == (VT_BYREF | VT_ARRAY | VT_I1);
}

// A byte array passed by value to an in-place parameter: the type
// information's dispatch would destroy the caller's array after the call.
// The method gets it by reference instead and works on it in place.
HRESULT InvokeWithBytesValue(const ScriptArrayCall& call, VARIANT& argument) noexcept {
    SAFEARRAY* byValue = argument.parray;
    argument.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    argument.pparray = &byValue;
    return call.Invoke();
}

// The method works on the array the variable holds.
HRESULT InvokeWithBytesVariable(const ScriptArrayCall& call, VARIANT& argument, VARIANT& variable) noexcept {
    if (IsByteArray(variable.vt)) {
        argument.vt = VT_BYREF | VT_ARRAY | VT_UI1;
        argument.pparray = &variable.parray;
    } else if (IsByteArrayReference(variable.vt)) {
        argument.vt = VT_BYREF | VT_ARRAY | VT_UI1;
        argument.pparray = variable.pparray;
    }
    return call.Invoke();
}

// Anything passed by value that the kind does not adapt: the type
// information's dispatch converts it for the call and afterwards writes the
// parameter back into the argument, letting go of what it held, the caller's
// value.  It writes into a copy of our own instead, let go after the call.
HRESULT InvokeWithCopy(const ScriptArrayCall& call, VARIANT& argument) noexcept {
    VARIANTARG copy;
    ::VariantInit(&copy);
    if (FAILED(::VariantCopy(&copy, &argument))) {
        if (call.argumentError) *call.argumentError = static_cast<UINT>(&argument - call.params->rgvarg);
        return DISP_E_TYPEMISMATCH;
    }
    argument = copy;
    const HRESULT hr = call.Invoke();
    ::VariantClear(&argument);
    return hr;
}

// The call on an argument list of our own, in which the script forms are
// replaced by what the methods take.
HRESULT InvokeAdapted(const ScriptArrayCall& call, ScriptArrayTable arrays) noexcept {
    const ScriptArrayParameter* parameter = FindParameter(arrays, call.id);
    VARIANT* argument = parameter ? FindArgument(*call.params, parameter->position) : nullptr;
    if (!argument) return call.Invoke();
    const ScriptArrayKind& kind = *parameter->kind;
    // Any other reference in an array parameter's place is refused here: the
    // type information's dispatch would hand its pointer on as an array.
    if ((argument->vt & VT_BYREF) && argument->vt != (VT_BYREF | VT_VARIANT) && !kind.takesReference(argument->vt)) {
        if (call.argumentError) *call.argumentError = static_cast<UINT>(argument - call.params->rgvarg);
        return DISP_E_TYPEMISMATCH;
    }
    if (kind.adaptsValue(argument->vt)) return kind.invokeWithValue(call, *argument);
    if (!(argument->vt & VT_BYREF)) return InvokeWithCopy(call, *argument);
    if (argument->vt != (VT_BYREF | VT_VARIANT) || !argument->pvarVal) return call.Invoke();
    return kind.invokeWithVariable(call, *argument, *argument->pvarVal);
}

}  // namespace

const ScriptArrayKind kBytesInPlace = {&IsByteArrayReference, &IsByteArray, &InvokeWithBytesValue,
                                       &InvokeWithBytesVariable};

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
    const ScriptArrayCall call{info, self, id, flags, arranged.Params(), result, exception, argumentError};
    const HRESULT hr = InvokeAdapted(call, arrays);
    if (argumentError && (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND))
        *argumentError = arranged.CallerIndex(*argumentError);
    return hr;
}

}  // namespace tarn
