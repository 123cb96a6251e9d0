// The entry function and the four exports of an in-process server, over the
// module's object map (kModuleObjects).  Every module links this file once.
#include <windows.h>

#include "com/module_record.h"
#include "com/registration.h"
#include "platform/trace.h"

using namespace tarn;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        if (!Module().Attach(instance, kModuleObjects)) return FALSE;
        ::DisableThreadLibraryCalls(instance);
        break;
    case DLL_PROCESS_DETACH:
        Module().Detach(reserved != nullptr);
        break;
    }
    return TRUE;
}

STDAPI DllCanUnloadNow() {
    return Module().CanUnload() ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    // The settings are read here rather than in DllMain, where the registry
    // must not be touched under the loader lock.
    static const bool traceRead = (ReloadTraceSettings(), true);
    (void)traceRead;
    return Module().GetClassObject(clsid, iid, out);
}

STDAPI DllRegisterServer() {
    return RegisterServer();
}

STDAPI DllUnregisterServer() {
    return UnregisterServer();
}
