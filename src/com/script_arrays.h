#pragma once
// Script engines pass every variable by reference as a VARIANT
// (VT_BYREF | VT_VARIANT).  The type-library dispatch refuses that form for
// typed array parameters, so no script could call them; this adapts such
// parameters before the call, each by the adapter of its kind:
//  - kBytesInPlace, here: the in-place byte arrays of transfers receive the
//    array that the script's variable holds, and the method works on it in place;
//  - a class may bring a kind of its own (the enumerator's port list).
// Each class declares its own such parameters in a table that the object map
// hands to its dispatch.
#include <windows.h>
#include <oaidl.h>

#include <cstddef>

namespace tarn {

// One call through the type information, on an argument list of our own
// whose arguments the adapters may replace.
struct ScriptArrayCall {
    ITypeInfo* info;
    IDispatch* self;
    DISPID id;
    WORD flags;
    DISPPARAMS* params;
    VARIANT* result;
    EXCEPINFO* exception;
    UINT* argumentError;

    HRESULT Invoke() const noexcept { return info->Invoke(self, id, flags, params, result, exception, argumentError); }
};

// How one kind of array parameter meets what scripts pass.  The frame refuses
// any reference the kind does not take, and hands a copy of any other value
// to the method; the kind adapts its own arrays passed by value, and the
// script's variable.
struct ScriptArrayKind {
    // The array references the method takes as they are.
    bool (*takesReference)(VARTYPE vt) noexcept;
    // The arrays passed by value that invokeWithValue adapts.
    bool (*adaptsValue)(VARTYPE vt) noexcept;
    HRESULT (*invokeWithValue)(const ScriptArrayCall& call, VARIANT& argument) noexcept;
    // The argument is VT_BYREF | VT_VARIANT, the variable what it points to.
    HRESULT (*invokeWithVariable)(const ScriptArrayCall& call, VARIANT& argument, VARIANT& variable) noexcept;
};

extern const ScriptArrayKind kBytesInPlace;

struct ScriptArrayParameter {
    DISPID method;
    UINT position;  // of the parameter, counted from the left from 0
    const ScriptArrayKind* kind;
};

struct ScriptArrayTable {
    const ScriptArrayParameter* entries = nullptr;
    size_t count = 0;
};

template <size_t N>
constexpr ScriptArrayTable TableOf(const ScriptArrayParameter (&entries)[N]) noexcept {
    return {entries, N};
}

// ITypeInfo::Invoke on `info`, with the script forms above adapted for the
// parameters of `arrays`.
HRESULT InvokeWithScriptArrays(ITypeInfo* info, ScriptArrayTable arrays, IDispatch* self, DISPID id, WORD flags,
                               DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                               UINT* argumentError) noexcept;

}  // namespace tarn
