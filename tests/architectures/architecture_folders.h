#pragma once
// The two builds lie side by side (build/x86/bin, build/x64/bin): tests of one
// architecture find the other's programs and modules there.
#include <windows.h>

#include <string>

#include "common/com_test_support.h"

namespace tarn::test {

constexpr const wchar_t* kOwnArchitecture = sizeof(void*) == 8 ? L"x64" : L"x86";
constexpr const wchar_t* kOtherArchitecture = sizeof(void*) == 8 ? L"x86" : L"x64";

// "Z:\...\build\x86\bin\" for "x86", as a full path without "..".
inline std::wstring BinFolderOf(const wchar_t* architecture) {
    const std::wstring relative = ProgramFolder() + L"..\\..\\" + architecture + L"\\bin\\";
    wchar_t full[MAX_PATH];
    const DWORD length = ::GetFullPathNameW(relative.c_str(), MAX_PATH, full, nullptr);
    return length && length < MAX_PATH ? std::wstring(full, length) : relative;
}

inline bool FileExists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace tarn::test
