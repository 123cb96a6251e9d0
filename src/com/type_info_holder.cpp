#include "com/type_info_holder.h"

#include <new>

#include "com/module_record.h"
#include "platform/com_ptr.h"

namespace tarn {

HRESULT TypeInfoHolder::Load(LCID lcid) noexcept {
    if (Loaded()) return S_OK;
    Lock lock(Module().TypeInfoLock());
    if (Loaded()) return S_OK;  // another thread was first

    ComPtr<ITypeLib> library;
    TLIBATTR identity;
    RETURN_IF_FAILED(Module().LibraryIdentity(identity));
    RETURN_IF_FAILED(::LoadRegTypeLib(identity.guid, identity.wMajorVerNum, identity.wMinorVerNum, lcid,
                                      library.put()));
    ComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(library->GetTypeInfoOfGuid(*guid_, info.put()));
    ComPtr<ITypeInfo2> info2;
    if (SUCCEEDED(info.As(info2))) info = ComPtr<ITypeInfo>(info2.get());

    BuildNameCache(info.get());
    info_.store(info.detach(), std::memory_order_release);
    return S_OK;
}

void TypeInfoHolder::BuildNameCache(ITypeInfo* info) noexcept {
    TYPEATTR* attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes))) return;  // every name goes to the type information
    const UINT count = attributes->cFuncs;
    info->ReleaseTypeAttr(attributes);

    std::unique_ptr<CachedName[]> names(new (std::nothrow) CachedName[count]);
    if (!names) return;
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* function = nullptr;
        if (FAILED(info->GetFuncDesc(i, &function))) continue;
        BSTR name = nullptr;
        if (SUCCEEDED(info->GetDocumentation(function->memid, &name, nullptr, nullptr, nullptr))) {
            names[i].name.reset(name);
            names[i].length = ::SysStringLen(name);
            names[i].id = function->memid;
        }
        info->ReleaseFuncDesc(function);
    }
    names_ = std::move(names);
    nameCount_ = count;
}

namespace {

// Names are matched as the type information matches them, whatever their
// case; the cache folds ASCII letters only and leaves other names to it.
bool EqualsFoldingAscii(const wchar_t* cached, const wchar_t* name, size_t length) noexcept {
    for (size_t i = 0; i < length; ++i) {
        wchar_t a = cached[i], b = name[i];
        if (a > 0x7F || b > 0x7F) return false;
        if (a >= L'A' && a <= L'Z') a = static_cast<wchar_t>(a - L'A' + L'a');
        if (b >= L'A' && b <= L'Z') b = static_cast<wchar_t>(b - L'A' + L'a');
        if (a != b) return false;
    }
    return true;
}

}  // namespace

bool TypeInfoHolder::FindCached(const wchar_t* name, DISPID& id) const noexcept {
    if (!name) return false;
    const size_t length = wcslen(name);
    for (UINT i = nameCount_; i-- > 0;) {
        const CachedName& entry = names_[i];
        if (entry.name && entry.length == length && EqualsFoldingAscii(entry.name.get(), name, length)) {
            id = entry.id;
            return true;
        }
    }
    return false;
}

HRESULT TypeInfoHolder::GetTypeInfo(LCID lcid, ITypeInfo** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    RETURN_IF_FAILED(Load(lcid));
    *out = Loaded();
    (*out)->AddRef();
    return S_OK;
}

HRESULT TypeInfoHolder::GetIDsOfNames(LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) noexcept {
    // The type information's own lookup would read through them.
    if (count > 0 && (!names || !ids)) return E_INVALIDARG;
    if (count == 0) return S_OK;
    RETURN_IF_FAILED(Load(lcid));
    // The cache holds member names; names after the first are the member's
    // parameters, which the type information resolves.
    if (count == 1 && FindCached(names[0], ids[0])) return S_OK;
    return Loaded()->GetIDsOfNames(names, count, ids);
}

void TypeInfoHolder::Release() noexcept {
    if (ITypeInfo* info = info_.exchange(nullptr)) info->Release();
    names_.reset();
    nameCount_ = 0;
}

}  // namespace tarn
