#include "console_text.h"

#include <vector>

namespace tarn::host {

void WriteText(Stream stream, const std::wstring& text) noexcept {
    if (text.empty()) return;
    const HANDLE handle = ::GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (!handle || handle == INVALID_HANDLE_VALUE) return;
    const int length = static_cast<int>(text.size());
    DWORD mode = 0, written = 0;
    if (::GetConsoleMode(handle, &mode)) {
        ::WriteConsoleW(handle, text.data(), static_cast<DWORD>(length), &written, nullptr);
        return;
    }
    const UINT codePage = ::GetConsoleOutputCP() ? ::GetConsoleOutputCP() : CP_OEMCP;
    const int bytes = ::WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return;
    try {
        std::vector<char> encoded(static_cast<size_t>(bytes));
        ::WideCharToMultiByte(codePage, 0, text.data(), length, encoded.data(), bytes, nullptr, nullptr);
        ::WriteFile(handle, encoded.data(), static_cast<DWORD>(bytes), &written, nullptr);
    } catch (...) {
        // Out of memory: the text is lost, the script goes on.
    }
}

void WriteLine(Stream stream, const std::wstring& text) noexcept {
    try {
        WriteText(stream, text + L"\r\n");
    } catch (...) {
    }
}

}  // namespace tarn::host
