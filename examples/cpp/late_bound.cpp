// A late-bound C++ client of TarnDriver: no header and no GUIDs compiled in,
// only ProgIDs and member names resolved at run time through IDispatch, the
// way script and Visual Basic clients call.  It shows positional, named and
// omitted arguments, an indexed property, and the exception information a
// failed call fills in.
//
//   late_bound.exe [--manifest PATH]   uses the USB device LUMO0 and the serial-port list
//   --manifest PATH: without registration, from TarnDriver.manifest (activation_context.h)
//
// Exit code 0 when every call did what it should.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "activation_context.h"

using Microsoft::WRL::ComPtr;

namespace {

struct Variant : VARIANT {
    Variant() { ::VariantInit(this); }
    ~Variant() { ::VariantClear(this); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

VARIANT Long(long value) {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

// One argument of a call: positional when `name` is null, else named.  The
// values stay the caller's.
struct Argument {
    const wchar_t* name;
    VARIANT value;
};

// Calls `member` of `object` by name.  The member's and the named arguments'
// DISPIDs come from one GetIDsOfNames call.  DISPPARAMS holds the named
// arguments first, then the positional ones from the last to the first;
// arguments left off at the end are omitted and get their defaults.
HRESULT CallByName(IDispatch* object, const wchar_t* member, WORD flags, const std::vector<Argument>& arguments,
                   VARIANT* result, std::wstring* message = nullptr) {
    std::vector<LPOLESTR> names{const_cast<LPOLESTR>(member)};
    std::vector<VARIANT> named, positional;
    for (const Argument& argument : arguments) {
        if (argument.name) {
            names.push_back(const_cast<LPOLESTR>(argument.name));
            named.push_back(argument.value);
        } else {
            positional.insert(positional.begin(), argument.value);
        }
    }
    std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()), LOCALE_USER_DEFAULT,
                                       ids.data());
    if (FAILED(hr)) return hr;  // DISP_E_UNKNOWNNAME: the member or an argument name is not in the type library

    std::vector<VARIANT> all(named);
    all.insert(all.end(), positional.begin(), positional.end());
    std::vector<DISPID> namedIds(ids.begin() + 1, ids.end());
    DISPID putId = DISPID_PROPERTYPUT;  // the value of a property put is named so
    if (flags & DISPATCH_PROPERTYPUT) namedIds.insert(namedIds.begin(), putId);
    DISPPARAMS params{all.data(), namedIds.data(), static_cast<UINT>(all.size()), static_cast<UINT>(namedIds.size())};
    EXCEPINFO exception{};
    UINT badArgument = 0;
    hr = object->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &exception, &badArgument);
    if (hr == DISP_E_EXCEPTION && message && exception.bstrDescription) *message = exception.bstrDescription;
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
    return hr;
}

ComPtr<IDispatch> CreateByProgId(const wchar_t* progId) {
    CLSID clsid;
    ComPtr<IDispatch> object;
    if (SUCCEEDED(::CLSIDFromProgID(progId, &clsid)))
        ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object));
    if (!object) std::printf("%ls cannot be created (is TarnDriver.DLL registered?)\n", progId);
    return object;
}

std::string Text(const VARIANT& bytes) {
    std::string text;
    if (bytes.vt != (VT_ARRAY | VT_UI1)) return text;
    void* data = nullptr;
    if (SUCCEEDED(::SafeArrayAccessData(bytes.parray, &data))) {
        text.assign(static_cast<const char*>(data), bytes.parray->rgsabound[0].cElements);
        ::SafeArrayUnaccessData(bytes.parray);
    }
    return text;
}

bool Report(const char* what, HRESULT hr) {
    if (FAILED(hr)) std::printf("%s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return SUCCEEDED(hr);
}

// UsbDriver: vendor requests with omitted and named arguments, and the locks.
bool UseUsbDevice() {
    ComPtr<IDispatch> usb = CreateByProgId(L"TarnDriver.UsbDriver");
    if (!usb) return false;
    constexpr long kLumo = 0, kPlayback = 4;  // etndevLumo, etnltPlayback
    Variant opened;
    if (!Report("Open", CallByName(usb.Get(), L"Open", DISPATCH_METHOD, {{nullptr, Long(kLumo)}, {nullptr, Long(0)}},
                                   &opened)))
        return false;
    std::printf("Open(etndevLumo, 0) = %d\n", opened.boolVal);

    // nParam1 and nParam2 are omitted (default 0); the data goes by name.
    Variant data;
    data.vt = VT_ARRAY | VT_UI1;
    data.parray = ::SafeArrayCreateVector(VT_UI1, 0, 4);
    void* bytes = nullptr;
    if (!data.parray || FAILED(::SafeArrayAccessData(data.parray, &bytes))) return false;
    std::memcpy(bytes, "TARN", 4);
    ::SafeArrayUnaccessData(data.parray);
    bool ok = Report("VendorRequestWrite", CallByName(usb.Get(), L"VendorRequestWrite", DISPATCH_METHOD,
                                                      {{nullptr, Long(0x42)}, {L"varByteDataAry", data}}, nullptr));

    Variant readBack;
    ok = ok && Report("VendorRequestRead",
                      CallByName(usb.Get(), L"VendorRequestRead", DISPATCH_METHOD,
                                 {{nullptr, Long(0x42)}, {nullptr, Long(0)}, {nullptr, Long(0)}, {nullptr, Long(4)}},
                                 &readBack));
    std::printf("request 0x42 reads back \"%s\"\n", Text(readBack).c_str());
    ok = ok && Text(readBack) == "TARN";

    Variant key, held, free;
    ok = ok && Report("LockDevice", CallByName(usb.Get(), L"LockDevice", DISPATCH_METHOD,
                                               {{nullptr, Long(kPlayback)}}, &key));
    // Lock is a property with an argument: read it with DISPATCH_PROPERTYGET.
    ok = ok && Report("Lock", CallByName(usb.Get(), L"Lock", DISPATCH_PROPERTYGET, {{nullptr, Long(kPlayback)}},
                                         &held));
    // Named arguments may come in any order.
    ok = ok && Report("UnlockDevice", CallByName(usb.Get(), L"UnlockDevice", DISPATCH_METHOD,
                                                 {{L"nKey", key}, {L"ETNLockType", Long(kPlayback)}}, nullptr));
    ok = ok && Report("Lock", CallByName(usb.Get(), L"Lock", DISPATCH_PROPERTYGET, {{nullptr, Long(kPlayback)}},
                                         &free));
    std::printf("LockDevice(etnltPlayback) key %ld, Lock reads %d while held, %d after UnlockDevice\n", key.lVal,
                held.boolVal, free.boolVal);
    ok = ok && key.lVal != 0 && held.boolVal == 1 && free.boolVal == 0;
    CallByName(usb.Get(), L"Close", DISPATCH_METHOD, {}, nullptr);
    return ok;
}

// DriverEnumerator: an in/out array argument, an omitted and a named option,
// and the message of a failed call.
bool ListPorts() {
    ComPtr<IDispatch> enumerator = CreateByProgId(L"TarnDriver.DriverEnumerator");
    if (!enumerator) return false;
    VARIANT family;
    family.vt = VT_BSTR;
    family.bstrVal = ::SysAllocString(L"serial");
    VARIANT rawNumbers;
    rawNumbers.vt = VT_BSTR;
    rawNumbers.bstrVal = ::SysAllocString(L"rawnumbers");
    bool ok = true;
    for (const bool raw : {false, true}) {
        SAFEARRAY* ports = nullptr;  // filled in through the reference
        VARIANT portsRef;
        portsRef.vt = VT_ARRAY | VT_BSTR | VT_BYREF;
        portsRef.pparray = &ports;
        std::vector<Argument> arguments{{nullptr, family}, {nullptr, portsRef}};
        if (raw) arguments.push_back({L"bstrOption", rawNumbers});  // else omitted: default ""
        ok = Report("EnumeratePorts", CallByName(enumerator.Get(), L"EnumeratePorts", DISPATCH_METHOD, arguments,
                                                 nullptr)) && ok;
        std::printf(raw ? "port numbers:" : "serial ports:");
        for (ULONG i = 0; ports && i < ports->rgsabound[0].cElements; ++i)
            std::printf(" %ls", static_cast<BSTR*>(ports->pvData)[i]);
        std::printf("\n");
        if (ports) ::SafeArrayDestroy(ports);
    }

    SAFEARRAY* none = nullptr;
    VARIANT noneRef;
    noneRef.vt = VT_ARRAY | VT_BSTR | VT_BYREF;
    noneRef.pparray = &none;
    VARIANT usb;
    usb.vt = VT_BSTR;
    usb.bstrVal = ::SysAllocString(L"usb");
    std::wstring message;
    const HRESULT hr = CallByName(enumerator.Get(), L"EnumeratePorts", DISPATCH_METHOD,
                                  {{nullptr, usb}, {nullptr, noneRef}}, nullptr, &message);
    std::printf("EnumeratePorts(\"usb\") failed: 0x%08lX \"%ls\"\n", static_cast<unsigned long>(hr), message.c_str());
    ok = ok && hr == DISP_E_EXCEPTION && !message.empty();
    ::SysFreeString(usb.bstrVal);
    ::SysFreeString(family.bstrVal);
    ::SysFreeString(rawNumbers.bstrVal);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const ManifestActivation activation(TakeManifestArgument(argc, argv));
    if (activation.failed()) return 1;
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    const bool usbOk = UseUsbDevice();
    const bool portsOk = ListPorts();
    ::CoUninitialize();
    std::printf(usbOk && portsOk ? "done\n" : "stopped\n");
    return usbOk && portsOk ? 0 : 1;
}
