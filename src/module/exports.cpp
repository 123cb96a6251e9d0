// The module's entry function and its two run-time exports; registration is in
// registration.cpp.
#include <windows.h>

#include "module/module.h"

using namespace tarn;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        Module().Attach(instance);
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
    return Module().GetClassObject(clsid, iid, out);
}
