#pragma once
// Helpers shared by the C++ test programs: a COM apartment per test (apartment.h), objects by
// ProgID, calls by name through IDispatch, and the thread's error information.
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TarnDriver.h"
#include "common/apartment.h"
#include "platform/com_ptr.h"

namespace tarn::test {

template <class T>
ComPtr<T> CreateByProgId(const wchar_t* progId) {
    CLSID clsid;
    ComPtr<T> object;
    if (SUCCEEDED(::CLSIDFromProgID(progId, &clsid)))
        ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(T), object.put_void());
    return object;
}

// A VARIANT that clears itself.
struct Variant : VARIANT {
    Variant() { ::VariantInit(this); }
    explicit Variant(long value) : Variant() { vt = VT_I4; lVal = value; }
    explicit Variant(const wchar_t* text) : Variant() { vt = VT_BSTR; bstrVal = ::SysAllocString(text); }
    ~Variant() { ::VariantClear(this); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

struct CallResult {
    HRESULT hr = E_FAIL;
    EXCEPINFO exception{};
    std::wstring Description() const { return exception.bstrDescription ? exception.bstrDescription : L""; }
    std::wstring Source() const { return exception.bstrSource ? exception.bstrSource : L""; }
    ~CallResult() {
        ::SysFreeString(exception.bstrDescription);
        ::SysFreeString(exception.bstrSource);
        ::SysFreeString(exception.bstrHelpFile);
    }
};

// Calls `name` by name, as late-bound clients do.  `arguments` are given left
// to right (they are reversed into DISPPARAMS order here) and are not owned.
inline HRESULT DispIdOf(IDispatch* object, const wchar_t* name, DISPID& id) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    return object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
}

inline void CallByName(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANTARG> arguments,
                       VARIANT* result, CallResult& outcome) {
    DISPID id = DISPID_UNKNOWN;
    outcome.hr = DispIdOf(object, name, id);
    if (FAILED(outcome.hr)) return;
    std::vector<VARIANTARG> reversed(arguments.rbegin(), arguments.rend());
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (flags & DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &put;
        params.cNamedArgs = 1;
    }
    UINT argumentError = 0;
    outcome.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &outcome.exception,
                                &argumentError);
}

inline VARIANTARG Long(long value) {
    VARIANTARG v;
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

// The calling thread's error information, taken (and so cleared) by the call.
struct ErrorRecord {
    bool present = false;
    std::wstring description, source;
    GUID iid = GUID_NULL;
};

inline ErrorRecord TakeErrorInfo() {
    ErrorRecord record;
    ComPtr<IErrorInfo> info;
    if (::GetErrorInfo(0, info.put()) != S_OK || !info) return record;
    record.present = true;
    BSTR text = nullptr;
    if (SUCCEEDED(info->GetDescription(&text)) && text) record.description = text;
    ::SysFreeString(text);
    text = nullptr;
    if (SUCCEEDED(info->GetSource(&text)) && text) record.source = text;
    ::SysFreeString(text);
    info->GetGUID(&record.iid);
    return record;
}

// The folder of the running test program, where TarnDriver.DLL lies too.
inline std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

inline std::wstring ModulePath() { return ProgramFolder() + L"TarnDriver.DLL"; }

}  // namespace tarn::test
