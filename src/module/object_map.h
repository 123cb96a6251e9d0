#pragma once
// The classes the module serves, in the order they are registered.
#include <windows.h>
#include <unknwn.h>

namespace tarn {

using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);

struct ObjectMapEntry {
    const CLSID* clsid;
    const IID* dualInterface;
    UINT registryScript;  // resource "REGISTRY" holding the class's registrar script
    CreateFunction create;
};

constexpr int kObjectMapSize = 4;
extern const ObjectMapEntry kObjectMap[kObjectMapSize];

}  // namespace tarn
