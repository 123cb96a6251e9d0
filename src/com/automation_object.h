#pragma once
// What every class of the library answers besides its own behaviour:
// IDispatch over its dual interface (from the type library), ISupportErrorInfo
// for that interface, and IProvideClassInfo2.  A class derives from
// AutomationObject<Dual, CLSID>.
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include "com/com_object.h"
#include "com/module_record.h"
#include "com/script_arrays.h"

namespace tarn {

template <class Dual>
class DispatchImpl : public Dual {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT /*index*/, LCID lcid, ITypeInfo** out) override {
        return Holder().GetTypeInfo(lcid, out);
    }
    STDMETHODIMP GetIDsOfNames(REFIID /*iid*/, LPOLESTR* names, UINT count, LCID lcid,
                               DISPID* ids) override {
        return Holder().GetIDsOfNames(names, count, lcid, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID /*iid*/, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override {
        TypeInfoHolder& holder = Holder();
        RETURN_IF_FAILED(holder.Load(lcid));
        return InvokeWithScriptArrays(holder.Loaded(), holder.ScriptArrays(), static_cast<Dual*>(this), id,
                                      flags, params, result, exception, argumentError);
    }

private:
    // Found in the object map once per interface, not on every call.
    static TypeInfoHolder& Holder() noexcept {
        static TypeInfoHolder& holder = Module().TypeInfo(__uuidof(Dual));
        return holder;
    }
};

template <class Dual>
class SupportErrorInfoImpl : public ISupportErrorInfo {
public:
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override {
        return ::IsEqualIID(iid, __uuidof(Dual)) ? S_OK : S_FALSE;
    }
};

// DefaultSource is the class's outgoing event interface, when it has one.
template <const CLSID& Clsid, const IID* DefaultSource>
class ProvideClassInfoImpl : public IProvideClassInfo2 {
public:
    STDMETHODIMP GetClassInfo(ITypeInfo** out) override {
        return Module().TypeInfo(Clsid).GetTypeInfo(0, out);
    }
    STDMETHODIMP GetGUID(DWORD kind, GUID* out) override {
        if (!out) return E_POINTER;
        if (DefaultSource && kind == GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
            *out = *DefaultSource;
            return S_OK;
        }
        *out = GUID_NULL;
        return E_FAIL;
    }
};

// The interface table of an automation class, in lookup order; Extra rows
// (a connection-point container) stand after IDispatch.
template <class Dual, class... Extra>
using AutomationInterfaces =
    InterfaceTable<Entry<Dual>, Entry<IDispatch, Dual>, Extra..., Entry<ISupportErrorInfo>,
                   Entry<IProvideClassInfo, IProvideClassInfo2>, Entry<IProvideClassInfo2>>;

// A class restates Interfaces when it answers more (or less) than the plain
// table, and kAtomicRefCount = false when it is bound to one apartment.
template <class Dual, const CLSID& Clsid, const IID* DefaultSource = nullptr>
class AutomationObject : public DispatchImpl<Dual>,
                         public SupportErrorInfoImpl<Dual>,
                         public ProvideClassInfoImpl<Clsid, DefaultSource> {
public:
    using DualInterface = Dual;
    using Interfaces = AutomationInterfaces<Dual>;
    static constexpr bool kAtomicRefCount = true;

    static const CLSID& ClassId() noexcept { return Clsid; }
};

}  // namespace tarn
