#include "com/registration.h"

#include <oleauto.h>

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
HRESULT RunRegistrarScripts(bool registering, const wchar_t* modulePath, const GUID& library) noexcept {
    wchar_t libraryId[40];
    if (!::StringFromGUID2(library, libraryId, 40)) return E_FAIL;
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

// What registering and removing share: the registrar scripts, run one way or
// the other, then `finish` with the module's path and its type library's identity.
template <class Finish>
HRESULT RunRegistration(bool registering, Finish&& finish) noexcept {
    ComApartment apartment;
    wchar_t path[MAX_PATH];
    RETURN_IF_FAILED(Module().Path(path));
    TLIBATTR library;
    RETURN_IF_FAILED(Module().LibraryIdentity(library));
    RETURN_IF_FAILED(RunRegistrarScripts(registering, path, library.guid));
    return finish(path, library);
}

}  // namespace

HRESULT RegisterServer() noexcept {
    return RunRegistration(true, [](wchar_t* path, const TLIBATTR&) {
        ComPtr<ITypeLib> library;
        RETURN_IF_FAILED(::LoadTypeLibEx(path, REGKIND_NONE, library.put()));
        return ::RegisterTypeLib(library.get(), path, nullptr);
    });
}

HRESULT UnregisterServer() noexcept {
    // Registration files the library under its own platform (win32 or win64);
    // removing exactly that entry leaves the other build's entry in place.
    return RunRegistration(false, [](wchar_t*, const TLIBATTR& library) {
        return ::UnRegisterTypeLib(library.guid, library.wMajorVerNum, library.wMinorVerNum, library.lcid,
                                   library.syskind);
    });
}

}  // namespace tarn
