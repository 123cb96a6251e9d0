#pragma once
// Script engines pass every variable by reference as a VARIANT
// (VT_BYREF | VT_VARIANT).  The type-library dispatch refuses that form for
// typed array parameters, so no script could call them; this adapts the
// three such parameters of the library before the call:
//  - the in-place byte arrays of the main-endpoint transfers receive the array
//    that the script's variable holds, and the method works on it in place;
//  - the port list of EnumeratePorts starts empty and comes back into the
//    variable as an array of VARIANT strings, which every script engine can
//    index and loop over.
// Each class declares its own such parameters in a table that the object map
// hands to its dispatch.
#include <windows.h>
#include <oaidl.h>

#include <cstddef>

namespace tarn {

enum class ScriptArray { BytesInPlace, PortList };

struct ScriptArrayParameter {
    DISPID method;
    UINT position;  // of the parameter, counted from the left from 0
    ScriptArray kind;
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
