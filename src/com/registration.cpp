#include "com/registration.h"

#include <oleauto.h>

#include <memory>

#include "com/module_record.h"
#include "com/registrar.h"

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

// The scripts name the module (%MODULE%) and the type library it carries (%LIBID%).
HRESULT RunRegistrarScripts(bool registering, const wchar_t* modulePath) noexcept {
    TLIBATTR library;
    RETURN_IF_FAILED(Module().LibraryIdentity(library));
    wchar_t libraryId[40];
    if (!::StringFromGUID2(library.guid, libraryId, 40)) return E_FAIL;
    ComPtr<IRegistrar> registrar;
    RETURN_IF_FAILED(::CoCreateInstance(kClsidRegistrar, nullptr, CLSCTX_INPROC_SERVER,
                                        __uuidof(IRegistrar), registrar.put_void()));
    RETURN_IF_FAILED(registrar->AddReplacement(L"MODULE", modulePath));
    RETURN_IF_FAILED(registrar->AddReplacement(L"LIBID", libraryId));
    for (const ObjectMapEntry& entry : Module().Objects()) {
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

// What registering and removing share: the registrar scripts, run one way or
// the other, then `finish` with the module's type library and its path.
template <class Finish>
HRESULT RunRegistration(bool registering, Finish&& finish) noexcept {
    ComApartment apartment;
    wchar_t path[MAX_PATH];
    RETURN_IF_FAILED(Module().Path(path));
    RETURN_IF_FAILED(RunRegistrarScripts(registering, path));
    ComPtr<ITypeLib> library;
    RETURN_IF_FAILED(::LoadTypeLibEx(path, REGKIND_NONE, library.put()));
    return finish(library.get(), path);
}

}  // namespace

HRESULT RegisterServer() noexcept {
    return RunRegistration(true, [](ITypeLib* library, wchar_t* path) {
        return ::RegisterTypeLib(library, path, nullptr);
    });
}

HRESULT UnregisterServer() noexcept {
    // Registration files the library under its own platform (win32 or win64);
    // removing exactly that entry leaves the other build's entry in place.
    return RunRegistration(false, [](ITypeLib* library, wchar_t*) {
        TLIBATTR* raw = nullptr;
        RETURN_IF_FAILED(library->GetLibAttr(&raw));
        const LibraryAttributes attributes(raw, LibraryAttributesRelease{library});
        return ::UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                                   attributes->lcid, attributes->syskind);
    });
}

}  // namespace tarn
