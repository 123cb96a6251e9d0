// IDispatch for a dual interface, driven by the kit's type library, so scripts
// reach the same vtable methods by name.
#pragma once

#include "module.h"

namespace tarnkit {

template <class DualInterface, const IID* Iid>
class DualDispatch : public DualInterface {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }

    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override
    {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return GetKitTypeInfo(*Iid, info);
    }

    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        // The type information's lookup would read through them.
        if (count > 0 && (!names || !ids)) return E_INVALIDARG;
        ComPtr<ITypeInfo> info;
        RETURN_IF_FAILED(GetKitTypeInfo(*Iid, info.put()));
        return info->GetIDsOfNames(names, count, ids);
    }

    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override
    {
        ComPtr<ITypeInfo> info;
        RETURN_IF_FAILED(GetKitTypeInfo(*Iid, info.put()));
        return info->Invoke(static_cast<DualInterface*>(this), id, flags, params, result, exception,
                            argError);
    }
};

// QueryInterface of an object with one dual interface and ISupportErrorInfo.
template <class DualInterface>
HRESULT QueryDualObject(DualInterface* dual, REFIID dualIid, ISupportErrorInfo* errorInfo, REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, dualIid)) {
        *out = dual;
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
        *out = errorInfo;
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*out)->AddRef();
    return S_OK;
}

}  // namespace tarnkit
