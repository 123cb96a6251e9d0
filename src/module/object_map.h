#pragma once
// The classes the module serves, in the order they are registered.
#include <windows.h>
#include <unknwn.h>

#include "module/script_arrays.h"

namespace tarn {

using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);

struct ObjectMapEntry {
    const CLSID* clsid;
    const IID* dualInterface;
    UINT registryScript;  // resource "REGISTRY" holding the class's registrar script
    CreateFunction create;
    ScriptArrayTable scriptArrays;  // the dual interface's parameters that take a script's arrays
};

constexpr int kObjectMapSize = 4;
extern const ObjectMapEntry kObjectMap[kObjectMapSize];

}  // namespace tarn
