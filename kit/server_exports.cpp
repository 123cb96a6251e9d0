// The four exports of an in-process server of the kit: class objects, unload
// check and self-registration of the module's classes and type library.
#include "class_factory.h"
#include "module.h"
#include "registration.h"

using namespace tarnkit;

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    return GetClassObject(kServerClasses.classes, kServerClasses.count, clsid, iid, out);
}

STDAPI DllCanUnloadNow()
{
    return Module().lockCount == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    return RegisterServer(kServerClasses.classes, kServerClasses.count);
}

STDAPI DllUnregisterServer()
{
    return UnregisterServer(kServerClasses.classes, kServerClasses.count);
}
