#include "registration.h"

#include <string>

#include "module.h"

namespace tarnkit {
namespace {

class RegKey {
public:
    RegKey() = default;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() { if (key_) RegCloseKey(key_); }
    HKEY get() const { return key_; }
    HKEY* put() { return &key_; }

private:
    HKEY key_ = nullptr;
};

std::wstring GuidText(REFGUID guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

HRESULT SetValue(const std::wstring& path, const wchar_t* name, const std::wstring& value)
{
    RegKey key;
    LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                     nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    status = RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    return HRESULT_FROM_WIN32(status);
}

HRESULT CreateKey(const std::wstring& path)
{
    RegKey key;
    return HRESULT_FROM_WIN32(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0,
                                              KEY_WRITE, nullptr, key.put(), nullptr));
}

void DeleteTree(const std::wstring& path)
{
    RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
}

// The installer writes the same keys as its own rows (installer/registry_rows.py,
// kit_class_rows); its test compares the two.
HRESULT RegisterClass(const KitClass& cls, const std::wstring& libid, const std::wstring& modulePath)
{
    const std::wstring clsid = GuidText(*cls.clsid);
    const std::wstring progId = cls.progId;
    const std::wstring versioned = progId + L".1";
    const std::wstring classKey = L"CLSID\\" + clsid;

    RETURN_IF_FAILED(SetValue(versioned, nullptr, cls.description));
    RETURN_IF_FAILED(SetValue(versioned + L"\\CLSID", nullptr, clsid));
    RETURN_IF_FAILED(SetValue(progId, nullptr, cls.description));
    RETURN_IF_FAILED(SetValue(progId + L"\\CLSID", nullptr, clsid));
    RETURN_IF_FAILED(SetValue(progId + L"\\CurVer", nullptr, versioned));

    DeleteTree(classKey);  // no stale subkeys survive a re-registration
    RETURN_IF_FAILED(SetValue(classKey, nullptr, cls.description));
    RETURN_IF_FAILED(SetValue(classKey + L"\\ProgID", nullptr, versioned));
    RETURN_IF_FAILED(SetValue(classKey + L"\\VersionIndependentProgID", nullptr, progId));
    RETURN_IF_FAILED(CreateKey(classKey + L"\\Programmable"));
    RETURN_IF_FAILED(SetValue(classKey + L"\\InprocServer32", nullptr, modulePath));
    RETURN_IF_FAILED(SetValue(classKey + L"\\InprocServer32", L"ThreadingModel", cls.threadingModel));
    RETURN_IF_FAILED(SetValue(classKey + L"\\TypeLib", nullptr, libid));
    return SetValue(classKey + L"\\Version", nullptr, L"1.0");
}

void UnregisterClass(const KitClass& cls)
{
    const std::wstring progId = cls.progId;
    DeleteTree(progId + L".1");
    DeleteTree(progId);
    DeleteTree(L"CLSID\\" + GuidText(*cls.clsid));
}

}  // namespace

// The LIBID comes from the module's own type library, so the class keys, the
// registration and the removal always name the library that the module carries.
class ModuleTypeLib {
public:
    HRESULT load()
    {
        RETURN_IF_FAILED(LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, typeLib_.put()));
        return typeLib_->GetLibAttr(&attr_);
    }
    ~ModuleTypeLib() { if (attr_) typeLib_->ReleaseTLibAttr(attr_); }
    const TLIBATTR& attr() const { return *attr_; }
    ITypeLib* library() const { return typeLib_.get(); }

private:
    ComPtr<ITypeLib> typeLib_;
    TLIBATTR* attr_ = nullptr;
};

HRESULT GetClassObject(const KitClass* classes, std::size_t count, REFCLSID clsid, REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    for (std::size_t i = 0; i < count; ++i)
        if (IsEqualCLSID(clsid, *classes[i].clsid)) return classes[i].createFactory(iid, out);
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT RegisterServer(const KitClass* classes, std::size_t count)
{
    std::wstring modulePath = ModulePath();  // not const: RegisterTypeLib takes a mutable string
    if (modulePath.empty()) return HRESULT_FROM_WIN32(GetLastError());
    // Registered under the module's own path, as the installer writes it
    // (loading with REGKIND_REGISTER may record a path of another form).
    ModuleTypeLib typeLib;
    RETURN_IF_FAILED(typeLib.load());
    RETURN_IF_FAILED(RegisterTypeLib(typeLib.library(), modulePath.data(), nullptr));
    const std::wstring libid = GuidText(typeLib.attr().guid);
    for (std::size_t i = 0; i < count; ++i) RETURN_IF_FAILED(RegisterClass(classes[i], libid, modulePath));
    return S_OK;
}

HRESULT UnregisterServer(const KitClass* classes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) UnregisterClass(classes[i]);
    ModuleTypeLib typeLib;
    RETURN_IF_FAILED(typeLib.load());
    const TLIBATTR& attr = typeLib.attr();
    const HRESULT hr = UnRegisterTypeLib(attr.guid, attr.wMajorVerNum, attr.wMinorVerNum, attr.lcid, attr.syskind);
    return hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_LIBNOTREGISTERED ? S_OK : hr;
}

}  // namespace tarnkit
