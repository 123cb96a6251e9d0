#pragma once
// Reading a script as Windows' host reads it: UTF-16 after its byte-order
// mark, UTF-8 after its mark, otherwise the system's ANSI code page.
#include <windows.h>

#include <string>

namespace tarn::host {

// False when the file cannot be read; `text` then holds nothing.
bool ReadScriptFile(const std::wstring& path, std::wstring& text);

}  // namespace tarn::host
