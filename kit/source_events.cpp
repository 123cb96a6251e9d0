#include "source_events.h"

#include <ocidl.h>

#include "automation/hresult.h"
#include "automation/unique_bstr.h"
#include "platform/com_ptr.h"

namespace tarn::kit {
namespace {

class TypeAttr {
public:
    explicit TypeAttr(ITypeInfo* info) : info_(info) { if (FAILED(info_->GetTypeAttr(&attr_))) attr_ = nullptr; }
    TypeAttr(const TypeAttr&) = delete;
    TypeAttr& operator=(const TypeAttr&) = delete;
    ~TypeAttr() { if (attr_) info_->ReleaseTypeAttr(attr_); }
    const TYPEATTR* operator->() const { return attr_; }
    bool ok() const { return attr_ != nullptr; }

private:
    ITypeInfo* info_;
    TYPEATTR* attr_ = nullptr;
};

// The [default, source] interface listed by a coclass.
HRESULT DefaultSourceOfCoclass(ITypeInfo* coclass, ComPtr<ITypeInfo>& events) {
    TypeAttr attr(coclass);
    if (!attr.ok() || attr->typekind != TKIND_COCLASS) return E_FAIL;
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
        INT flags = 0;
        if (FAILED(coclass->GetImplTypeFlags(i, &flags))) continue;
        if ((flags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) != (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE))
            continue;
        HREFTYPE ref = 0;
        RETURN_IF_FAILED(coclass->GetRefTypeOfImplType(i, &ref));
        return coclass->GetRefTypeInfo(ref, events.put());
    }
    return E_FAIL;
}

// The type information of `iid` from the library that describes the source.
HRESULT EventInfoByIid(ITypeInfo* classInfo, IDispatch* source, REFIID iid, ComPtr<ITypeInfo>& events) {
    ComPtr<ITypeInfo> anyInfo = classInfo;
    if (!anyInfo) RETURN_IF_FAILED(source->GetTypeInfo(0, LOCALE_USER_DEFAULT, anyInfo.put()));
    if (!anyInfo) return E_FAIL;
    ComPtr<ITypeLib> library;
    UINT index = 0;
    RETURN_IF_FAILED(anyInfo->GetContainingTypeLib(library.put(), &index));
    return library->GetTypeInfoOfGuid(iid, events.put());
}

HRESULT ReadEventNames(ITypeInfo* events, SourceEvents& result, std::wstring& problem) {
    TypeAttr attr(events);
    if (!attr.ok()) {
        problem = L"The source's event interface has no readable type information";
        return E_FAIL;
    }
    // Only a pure dispinterface is safe to answer with IDispatch: a source may
    // call any other interface through its vtable.
    if (attr->typekind != TKIND_DISPATCH || (attr->wTypeFlags & TYPEFLAG_FDUAL)) {
        problem = L"The source's event interface is not a dispinterface";
        return E_INVALIDARG;
    }
    result.iid = attr->guid;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* func = nullptr;
        if (FAILED(events->GetFuncDesc(i, &func))) continue;
        const MEMBERID id = func->memid;
        events->ReleaseFuncDesc(func);
        UniqueBstr name;
        UINT count = 0;
        if (SUCCEEDED(events->GetNames(id, name.put(), 1, &count)) && count == 1)
            result.names[id] = std::wstring(name.get(), name.length());
    }
    return S_OK;
}

}  // namespace

HRESULT FindSourceEvents(IDispatch* source, SourceEvents& events, std::wstring& problem) {
    ComPtr<ITypeInfo> classInfo;
    ComPtr<IProvideClassInfo> provideInfo;
    if (SUCCEEDED(source->QueryInterface(IID_IProvideClassInfo, provideInfo.put_void())))
        provideInfo->GetClassInfo(classInfo.put());

    ComPtr<ITypeInfo> eventInfo;
    IID iid = GUID_NULL;
    ComPtr<IProvideClassInfo2> provideInfo2;
    if (SUCCEEDED(source->QueryInterface(IID_IProvideClassInfo2, provideInfo2.put_void()))
        && SUCCEEDED(provideInfo2->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &iid))) {
        if (FAILED(EventInfoByIid(classInfo.get(), source, iid, eventInfo))) {
            problem = L"The source's event interface is not described in its type library";
            return E_FAIL;
        }
    } else if (!classInfo || FAILED(DefaultSourceOfCoclass(classInfo.get(), eventInfo))) {
        problem = L"The source names no default event interface";
        return E_INVALIDARG;
    }
    return ReadEventNames(eventInfo.get(), events, problem);
}

}  // namespace tarn::kit
