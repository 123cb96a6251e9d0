#pragma once
// The classes a module serves, in the order they are registered.  Each module
// defines its own map (kModuleObjects); the frame (module record, class
// objects, registration, dispatch) reads it and knows classes through it only.
#include <windows.h>
#include <unknwn.h>

#include <cstddef>

#include "com/script_arrays.h"

namespace tarn {

using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);

struct ObjectMapEntry {
    const CLSID* clsid;
    const IID* dualInterface;
    UINT registryScript;  // resource "REGISTRY" holding the class's registrar script
    CreateFunction create;
    ScriptArrayTable scriptArrays;  // the dual interface's parameters that take a script's arrays
};

struct ObjectMap {
    const ObjectMapEntry* entries;
    size_t count;

    const ObjectMapEntry* begin() const noexcept { return entries; }
    const ObjectMapEntry* end() const noexcept { return entries + count; }
};

template <size_t N>
constexpr ObjectMap MakeObjectMap(const ObjectMapEntry (&entries)[N]) noexcept {
    return {entries, N};
}

// Defined once in each module.
extern const ObjectMap kModuleObjects;

}  // namespace tarn
