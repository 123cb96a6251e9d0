// What the status line says about the panel and the library it loaded.
#include "library_info.h"

#include <windows.h>
#include <objbase.h>

#include <vector>

#include "TarnDriver.h"
#include "platform/com_ptr.h"

namespace panel {
namespace {

constexpr const wchar_t* kBitness = sizeof(void*) == 8 ? L"64-bit" : L"32-bit";

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH] = L"";
    ::GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

// "5.2.300.5", from the file's version resource.
std::wstring FileVersion(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<BYTE> block(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!size || !::GetFileVersionInfoW(path.c_str(), 0, size, block.data()) ||
        !::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed)
        return L"(no version)";
    return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionMS)) +
           L"." + std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionLS));
}

// The bitness a loaded module was built for, from its own PE header.
std::wstring ModuleBitness(HMODULE module) {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const BYTE*>(module) + dos->e_lfanew);
    switch (nt->FileHeader.Machine) {
    case IMAGE_FILE_MACHINE_AMD64: return L"64-bit";
    case IMAGE_FILE_MACHINE_I386: return L"32-bit";
    default: return L"unknown machine";
    }
}

}  // namespace

std::wstring DescribeLibrary() {
    const std::wstring self = ModulePath(nullptr);
    std::wstring text = L"TarnPanel " + FileVersion(self) + L", " + kBitness + L": " + self + L"\r\n";
    // Creating an object loads the module the registration (or a manifest) names.
    tarn::ComPtr<IDriverEnumerator> probe;
    const HRESULT hr = ::CoCreateInstance(CLSID_DriverEnumerator, nullptr, CLSCTX_INPROC_SERVER, IID_IDriverEnumerator,
                                          probe.put_void());
    HMODULE library = ::GetModuleHandleW(L"TarnDriver.DLL");
    if (hr == REGDB_E_CLASSNOTREG || hr == REGDB_E_IIDNOTREG) {
        return text + L"TarnDriver is not registered for " + kBitness + L" programs: install the " + kBitness +
               L" package, or run the " + kBitness + L" regsvr32 on its TarnDriver.DLL";
    }
    if (!library) {
        wchar_t code[16];
        ::wsprintfW(code, L"0x%08lX", static_cast<unsigned long>(hr));
        return text + L"TarnDriver is registered, but its module did not load (" + code + L")";
    }
    const std::wstring path = ModulePath(library);
    return text + L"TarnDriver " + FileVersion(path) + L", " + ModuleBitness(library) + L": " + path;
}

}  // namespace panel
