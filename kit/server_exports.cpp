// The four exports of an in-process server: class objects, unload check and
// self-registration of the kit's classes and type library.
#include <new>

#include "TarnKit.h"
#include "bytes.h"
#include "class_factory.h"
#include "event_bridge.h"
#include "registration.h"

using namespace tarnkit;

namespace {

const KitClass kClasses[] = {
    {&CLSID_Bytes, L"TarnKit.Bytes", L"Bytes Class", L"Both"},
    {&CLSID_EventBridge, L"TarnKit.EventBridge", L"EventBridge Class", L"Apartment"},
};

template <class T>
HRESULT CreateFactory(REFIID iid, void** out)
{
    auto* factory = new (std::nothrow) ClassFactory<T>();
    if (!factory) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualCLSID(clsid, CLSID_Bytes)) return CreateFactory<tarnkit::Bytes>(iid, out);
    if (IsEqualCLSID(clsid, CLSID_EventBridge)) return CreateFactory<tarnkit::EventBridge>(iid, out);
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow()
{
    return Module().lockCount == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    return RegisterServer(kClasses, LIBID_TarnKit);
}

STDAPI DllUnregisterServer()
{
    return UnregisterServer(kClasses, LIBID_TarnKit);
}
