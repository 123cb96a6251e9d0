#pragma once
// The host's output: text to stdout or stderr, in the console's code page
// when written to a file or pipe, as Windows' console host writes it.
#include <windows.h>

#include <string>

namespace tarn::host {

enum class Stream { Out, Error };

void WriteText(Stream stream, const std::wstring& text) noexcept;
void WriteLine(Stream stream, const std::wstring& text) noexcept;

}  // namespace tarn::host
