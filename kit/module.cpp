// Module entry point and the type library cache of the module record.
#include "module.h"

namespace tarnkit {

ModuleRecord& Module()
{
    static ModuleRecord record;
    return record;
}

std::wstring ModulePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(Module().instance, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return std::wstring();
        if (n < path.size()) { path.resize(n); return path; }
        path.resize(path.size() * 2);
    }
}

HRESULT GetKitTypeInfo(REFGUID guid, ITypeInfo** info)
{
    if (!info) return E_POINTER;
    *info = nullptr;
    ModuleRecord& module = Module();
    HRESULT hr = S_OK;
    ComPtr<ITypeLib> typeLib;
    {
        Lock lock(module.typeLibLock);
        if (!module.typeLib) hr = LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, module.typeLib.put());
        typeLib = module.typeLib;
    }
    RETURN_IF_FAILED(hr);
    return typeLib->GetTypeInfoOfGuid(guid, info);
}

}  // namespace tarnkit

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        tarnkit::Module().instance = instance;
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        // At process exit other DLLs may already be gone: leave the type library be.
        if (reserved == nullptr) tarnkit::Module().typeLib.reset();
        else tarnkit::Module().typeLib.detach();
    }
    return TRUE;
}
