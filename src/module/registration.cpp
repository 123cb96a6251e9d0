// Registration: each class's registrar script, run by the platform's registrar
// with %MODULE% replaced by this file's path, then the type library.
#include <windows.h>
#include <oleauto.h>

#include <memory>

#include "module/module.h"
#include "module/registrar.h"

namespace tarn {
namespace {

// Registration may be called on a thread without COM (regsvr32 does its own
// initialisation, other installers may not).
class ComApartment {
public:
    ComApartment() noexcept : hr_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }

private:
    HRESULT hr_;
};

HRESULT ModulePath(wchar_t (&path)[MAX_PATH]) noexcept {
    const DWORD length = ::GetModuleFileNameW(Module().Instance(), path, MAX_PATH);
    return length == 0 || length == MAX_PATH ? E_FAIL : S_OK;
}

HRESULT RunRegistrarScripts(bool registering, const wchar_t* modulePath) noexcept {
    ComPtr<IRegistrar> registrar;
    RETURN_IF_FAILED(::CoCreateInstance(kClsidRegistrar, nullptr, CLSCTX_INPROC_SERVER,
                                        __uuidof(IRegistrar), registrar.put_void()));
    RETURN_IF_FAILED(registrar->AddReplacement(L"MODULE", modulePath));
    for (const ObjectMapEntry& entry : kObjectMap) {
        RETURN_IF_FAILED(registering
                             ? registrar->ResourceRegister(modulePath, entry.registryScript, L"REGISTRY")
                             : registrar->ResourceUnregister(modulePath, entry.registryScript, L"REGISTRY"));
    }
    return S_OK;
}

// The attributes of a loaded type library, handed back to it when done.
struct LibraryAttributesRelease {
    ITypeLib* library;
    void operator()(TLIBATTR* attributes) const noexcept { library->ReleaseTLibAttr(attributes); }
};
using LibraryAttributes = std::unique_ptr<TLIBATTR, LibraryAttributesRelease>;

}  // namespace
}  // namespace tarn

using namespace tarn;

STDAPI DllRegisterServer() {
    ComApartment apartment;
    wchar_t path[MAX_PATH];
    RETURN_IF_FAILED(ModulePath(path));
    RETURN_IF_FAILED(RunRegistrarScripts(true, path));
    ComPtr<ITypeLib> library;
    RETURN_IF_FAILED(::LoadTypeLibEx(path, REGKIND_NONE, library.put()));
    return ::RegisterTypeLib(library.get(), path, nullptr);
}

STDAPI DllUnregisterServer() {
    ComApartment apartment;
    wchar_t path[MAX_PATH];
    RETURN_IF_FAILED(ModulePath(path));
    RETURN_IF_FAILED(RunRegistrarScripts(false, path));
    // Registration files the library under its own platform (win32 or win64);
    // removing exactly that entry leaves the other build's entry in place.
    ComPtr<ITypeLib> library;
    RETURN_IF_FAILED(::LoadTypeLibEx(path, REGKIND_NONE, library.put()));
    TLIBATTR* raw = nullptr;
    RETURN_IF_FAILED(library->GetLibAttr(&raw));
    const LibraryAttributes attributes(raw, LibraryAttributesRelease{library.get()});
    return ::UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                               attributes->lcid, attributes->syskind);
}
