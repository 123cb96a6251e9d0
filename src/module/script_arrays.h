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
#include <windows.h>
#include <oaidl.h>

namespace tarn {

// ITypeInfo::Invoke on `info`, with the script forms above adapted for the
// method `id` of the interface `iid`.
HRESULT InvokeWithScriptArrays(ITypeInfo* info, REFIID iid, IDispatch* self, DISPID id, WORD flags,
                               DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                               UINT* argumentError) noexcept;

}  // namespace tarn
