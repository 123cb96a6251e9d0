// The four exports of an in-process server: class objects, unload check and
// self-registration of the kit's classes and type library.
#include "TarnKit.h"
#include "bytes.h"
#include "class_factory.h"
#include "event_bridge.h"
#include "registration.h"

using namespace tarnkit;

namespace {

const KitClass kClasses[] = {
    {&CLSID_Bytes, CreateClassFactory<tarnkit::Bytes>, L"TarnKit.Bytes", L"Bytes Class", L"Both"},
    {&CLSID_EventBridge, CreateClassFactory<tarnkit::EventBridge>, L"TarnKit.EventBridge", L"EventBridge Class",
     L"Apartment"},
};

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    return GetClassObject(kClasses, clsid, iid, out);
}

STDAPI DllCanUnloadNow()
{
    return Module().lockCount == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    return RegisterServer(kClasses);
}

STDAPI DllUnregisterServer()
{
    return UnregisterServer(kClasses);
}
