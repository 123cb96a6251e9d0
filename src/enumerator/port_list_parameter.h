#pragma once
// EnumeratePorts' port list as scripts pass it: it starts empty and comes back
// into the script's variable as an array of VARIANT strings, which every
// script engine can index and loop over.
#include "com/script_arrays.h"

namespace tarn {

extern const ScriptArrayKind kPortList;

}  // namespace tarn
