#pragma once
// Registration of a module: each class's registrar script (a "REGISTRY"
// resource named in the object map), run by the platform's registrar with
// %MODULE% replaced by the module's path and %LIBID% by the identifier of the
// type library it carries, then that type library.
#include <windows.h>

namespace tarn {

HRESULT RegisterServer() noexcept;
// Removes what registration wrote; the type library's entry only for this
// build's platform, so the other build's stays.
HRESULT UnregisterServer() noexcept;

}  // namespace tarn
