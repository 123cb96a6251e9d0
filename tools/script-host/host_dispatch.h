#pragma once
// IDispatch for the host's own objects (WScript, its Arguments and streams),
// by a table of members instead of a type library: the host carries no
// library to register, and scripts find these objects by name only.
#include <windows.h>
#include <oaidl.h>

#include <string>

#include "automation/hresult.h"
#include "automation/unique_variant.h"

namespace tarn::host {

// One call of a member, with its arguments in the order the script wrote them.
class Call {
public:
    Call(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception) noexcept
        : params_(params), result_(result), exception_(exception) {}

    UINT Count() const noexcept { return params_ ? params_->cArgs : 0; }
    // Argument `index` (0 = first), with a by-reference variable followed; null when missing.
    const VARIANT* Argument(UINT index) const noexcept;
    bool Has(UINT index) const noexcept;  // given and not left out (VT_ERROR DISP_E_PARAMNOTFOUND)

    HRESULT Text(UINT index, std::wstring& text) const;
    HRESULT Long(UINT index, LONG& value) const noexcept;
    // The argument as an object; DISP_E_TYPEMISMATCH when it is none.
    HRESULT Object(UINT index, IDispatch*& object) const noexcept;

    // Where the member's value goes; null when the script discards it.
    VARIANT* Result() const noexcept { return result_; }
    HRESULT ReturnText(const std::wstring& text) const noexcept;
    HRESULT ReturnLong(LONG value) const noexcept;
    HRESULT ReturnObject(IDispatch* object) const noexcept;  // adds its own reference

    // Calls `object`'s member `id` with this call's arguments and result.
    HRESULT Forward(IDispatch* object, DISPID id) const noexcept;

    // Fails the call the way Automation objects do: the script sees `source`,
    // `description` and `code` in its error.
    HRESULT Fail(const wchar_t* source, const std::wstring& description, HRESULT code) const noexcept;

private:
    DISPPARAMS* params_;
    VARIANT* result_;
    EXCEPINFO* exception_;
};

template <class T>
struct Member {
    const wchar_t* name;
    DISPID id;
    HRESULT (T::*run)(const Call& call);
};

// T derives from TableDispatch<T> and defines
//   static const Member<T> kMembers[]; static const size_t kMemberCount;
template <class T>
class TableDispatch : public IDispatch {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!names || !ids || count == 0) return E_INVALIDARG;
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        const Member<T>* member = FindByName(names[0]);
        if (!member) return DISP_E_UNKNOWNNAME;
        ids[0] = member->id;
        return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;  // named arguments are not taken
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT*) override {
        // Every member is read-only: a value, or a method called with or without parentheses.
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return DISP_E_MEMBERNOTFOUND;
        if (params && params->cNamedArgs) return DISP_E_NONAMEDARGS;
        for (size_t i = 0; i < T::kMemberCount; ++i) {
            const Member<T>& member = T::kMembers[i];
            if (member.id != id) continue;
            if (result) ::VariantInit(result);
            return NoThrow([&] { return (static_cast<T*>(this)->*member.run)(Call(params, result, exception)); });
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    static const Member<T>* FindByName(const wchar_t* name) noexcept {
        if (!name) return nullptr;
        for (size_t i = 0; i < T::kMemberCount; ++i)
            if (::CompareStringOrdinal(name, -1, T::kMembers[i].name, -1, TRUE) == CSTR_EQUAL) return &T::kMembers[i];
        return nullptr;
    }
};

}  // namespace tarn::host
