#pragma once
// Redirects a loaded module's imports: each entry of its import address table
// that names `function` is made to point at `replacement`.  The module itself
// is unchanged on disk and keeps calling through its table, so every call it
// makes to that function (from any thread) reaches the replacement.
#include <windows.h>

#include <cstring>

namespace tarn::test {

// Returns the address the table held before (what the replacement calls on
// to), or null when the module does not import `function` by name.
inline void* RedirectImport(HMODULE module, const char* function, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return nullptr;
    void* original = nullptr;
    for (auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         import->Name != 0; ++import) {
        if (import->OriginalFirstThunk == 0) continue;  // no names to match by
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
        auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
            DWORD protection = 0;
            void* slot = &addresses->u1.Function;
            if (!::VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &protection)) continue;
            original = reinterpret_cast<void*>(addresses->u1.Function);
            addresses->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            ::VirtualProtect(slot, sizeof(void*), protection, &protection);
        }
    }
    return original;
}

}  // namespace tarn::test
