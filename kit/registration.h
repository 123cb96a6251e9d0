// Self-registration: ProgIDs and class keys below HKEY_CLASSES_ROOT, and the
// type library carried by the module (resource TYPELIB 1).
#pragma once

#include <cstddef>

#include "com_handles.h"

namespace tarnkit {

struct KitClass {
    const CLSID* clsid;
    const wchar_t* progId;          // version-independent; ".1" is appended for the versioned one
    const wchar_t* description;
    const wchar_t* threadingModel;  // "Apartment", "Both" or "Free"
};

HRESULT RegisterServer(const KitClass* classes, std::size_t count, REFGUID libid);
HRESULT UnregisterServer(const KitClass* classes, std::size_t count, REFGUID libid);

template <std::size_t N>
HRESULT RegisterServer(const KitClass (&classes)[N], REFGUID libid)
{
    return RegisterServer(classes, N, libid);
}

template <std::size_t N>
HRESULT UnregisterServer(const KitClass (&classes)[N], REFGUID libid)
{
    return UnregisterServer(classes, N, libid);
}

}  // namespace tarnkit
