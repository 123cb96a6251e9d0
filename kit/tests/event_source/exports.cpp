// Exports of the test event source module.
#include "class_factory.h"
#include "registration.h"
#include "test_source.h"

using namespace tarnkit;

namespace {

const KitClass kClasses[] = {
    {&CLSID_TestSource, CreateClassFactory<tarnkit_test::TestSource>, L"TarnKitTestSource.TestSource",
     L"TestSource Class", L"Free"},
    {&CLSID_TestSourceClassInfoOnly, CreateClassFactory<tarnkit_test::TestSourceClassInfoOnly>,
     L"TarnKitTestSource.ClassInfoOnly", L"TestSourceClassInfoOnly Class", L"Free"},
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
