#include "fuzz_targets.h"

#include "TarnDriver.h"

namespace tarn::fuzz {
namespace {

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

VARIANT Long(long value) {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

VARIANT Text(const wchar_t* text) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = ::SysAllocString(text);
    return v;
}

// Members from the type information of the object's dual interface.
std::vector<Member> MembersOf(IDispatch* object) {
    std::vector<Member> members;
    ComPtr<ITypeInfo> info;
    TYPEATTR* attributes = nullptr;
    if (FAILED(object->GetTypeInfo(0, 0, info.put())) || FAILED(info->GetTypeAttr(&attributes))) return members;
    for (UINT i = 0; i < attributes->cFuncs; ++i) {
        FUNCDESC* function = nullptr;
        if (FAILED(info->GetFuncDesc(i, &function))) continue;
        // IUnknown's and IDispatch's members are restricted: calling Release
        // through Invoke would destroy the object under the fuzzer.
        if (function->wFuncFlags & FUNCFLAG_FRESTRICTED) {
            info->ReleaseFuncDesc(function);
            continue;
        }
        UINT visible = function->cParams;
        if (visible && (function->lprgelemdescParam[visible - 1].paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) --visible;
        BSTR name = nullptr;
        info->GetDocumentation(function->memid, &name, nullptr, nullptr, nullptr);
        members.push_back({function->memid, static_cast<WORD>(function->invkind), visible, name ? name : L""});
        ::SysFreeString(name);
        info->ReleaseFuncDesc(function);
    }
    info->ReleaseTypeAttr(attributes);
    return members;
}

HRESULT CallMethod(IDispatch* object, const wchar_t* name, std::vector<VARIANT>& arguments) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    VARIANT result;
    ::VariantInit(&result);
    hr = object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    ::VariantClear(&result);
    return hr;
}

}  // namespace

ComPtr<IDispatch> Targets::New(REFCLSID clsid) {
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(::GetProcAddress(module_, "DllGetClassObject")));
    ComPtr<IClassFactory> factory;
    ComPtr<IDispatch> object;
    if (get && SUCCEEDED(get(clsid, IID_IClassFactory, factory.put_void())))
        factory->CreateInstance(nullptr, IID_IDispatch, object.put_void());
    return object;
}

bool Targets::Add(const char* label, REFCLSID clsid, REFIID iid, const wchar_t* opener,
                  std::vector<VARIANT> arguments, std::string& why) {
    Target target{label, iid, New(clsid), {}};
    if (!target.object) {
        why = std::string("cannot create ") + label;
        return false;
    }
    target.members = MembersOf(target.object.get());
    if (target.members.empty()) {
        why = std::string("no type information for ") + label;
        return false;
    }
    if (opener && FAILED(CallMethod(target.object.get(), opener, arguments))) {
        why = std::string("cannot set up ") + label;
        return false;
    }
    for (VARIANT& argument : arguments) ::VariantClear(&argument);
    targets_.push_back(std::move(target));
    return true;
}

bool Targets::Create(std::string& why) {
    module_ = ::LoadLibraryW((ProgramFolder() + L"TarnDriver.DLL").c_str());
    if (!module_) {
        why = "TarnDriver.DLL not found beside the program";
        return false;
    }
    const bool ok =
        Add("DriverEnumerator", CLSID_DriverEnumerator, IID_IDriverEnumerator, nullptr, {}, why) &&
        Add("Rs232Driver never opened", CLSID_Rs232Driver, IID_IRs232Driver, nullptr, {}, why) &&
        Add("Rs232Driver on COM21", CLSID_Rs232Driver, IID_IRs232Driver, L"Open", {Long(21)}, why) &&
        Add("Rs232Driver on COM22", CLSID_Rs232Driver, IID_IRs232Driver, L"Open", {Long(22)}, why) &&
        Add("Rs232Driver closed", CLSID_Rs232Driver, IID_IRs232Driver, L"Close", {}, why) &&
        Add("UsbDriver never opened", CLSID_UsbDriver, IID_IUsbDriver, nullptr, {}, why) &&
        Add("UsbDriver on LUMO0", CLSID_UsbDriver, IID_IUsbDriver, L"Open", {Long(0), Long(0)}, why) &&
        Add("UsbDriver on LUMO1", CLSID_UsbDriver, IID_IUsbDriver, L"Open", {Long(0), Long(1)}, why) &&
        Add("UsbDriver closed", CLSID_UsbDriver, IID_IUsbDriver, L"Close", {}, why) &&
        Add("Rs232DigitalIoDriver never opened", CLSID_Rs232DigitalIoDriver, IID_IRs232DigitalIoDriver, nullptr,
            {}, why) &&
        Add("Rs232DigitalIoDriver on COM23", CLSID_Rs232DigitalIoDriver, IID_IRs232DigitalIoDriver, L"Open",
            {Text(L"\\\\.\\COM23")}, why) &&
        Add("Rs232DigitalIoDriver on COM24", CLSID_Rs232DigitalIoDriver, IID_IRs232DigitalIoDriver, L"Open",
            {Text(L"\\\\.\\COM24")}, why) &&
        Add("Rs232DigitalIoDriver closed", CLSID_Rs232DigitalIoDriver, IID_IRs232DigitalIoDriver, L"Close", {},
            why);
    if (!ok) return false;
    for (int device = 0; device < 2; ++device) {
        ComPtr<IDispatch> usb = New(CLSID_UsbDriver);
        VARIANT_BOOL opened = 0;
        if (!usb || FAILED(usb.As(rescuers_[device])) ||
            FAILED(rescuers_[device]->Open(etndevLumo, static_cast<short>(device), &opened))) {
            why = "cannot open the stand-in USB devices";
            return false;
        }
    }
    return true;
}

std::vector<IDispatch*> Targets::Objects() const {
    std::vector<IDispatch*> objects;
    for (const Target& target : targets_) objects.push_back(target.object.get());
    return objects;
}

void Targets::ReleaseWaitingReads() {
    for (auto& rescuer : rescuers_) rescuer->ResetMainEndpointIn();
}

}  // namespace tarn::fuzz
