// A module's table of classes: class objects, and self-registration (ProgIDs
// and class keys below HKEY_CLASSES_ROOT, and the type library carried by the
// module as resource TYPELIB 1).
#pragma once

#include <cstddef>

#include "com_handles.h"

namespace tarnkit {

struct KitClass {
    const CLSID* clsid;
    HRESULT (*createFactory)(REFIID iid, void** out);  // CreateClassFactory<T>
    const wchar_t* progId;          // version-independent; ".1" is appended for the versioned one
    const wchar_t* description;
    const wchar_t* threadingModel;  // "Apartment", "Both" or "Free"
};

// DllGetClassObject over a module's class table.
HRESULT GetClassObject(const KitClass* classes, std::size_t count, REFCLSID clsid, REFIID iid, void** out);
HRESULT RegisterServer(const KitClass* classes, std::size_t count);
HRESULT UnregisterServer(const KitClass* classes, std::size_t count);

// The module's own table of classes, defined once per module; the exports
// (server_exports.cpp) serve it.
struct ClassTable {
    const KitClass* classes;
    std::size_t count;
};
extern const ClassTable kServerClasses;

}  // namespace tarnkit
