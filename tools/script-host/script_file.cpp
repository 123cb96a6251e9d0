#include "script_file.h"

#include <vector>

#include "platform/unique_handle.h"

namespace tarn::host {
namespace {

std::wstring Decode(UINT codePage, const char* bytes, int count) {
    if (count <= 0) return {};
    const int length = ::MultiByteToWideChar(codePage, 0, bytes, count, nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes, count, text.data(), length);
    return text;
}

}  // namespace

bool ReadScriptFile(const std::wstring& path, std::wstring& text) {
    text.clear();
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > 256 * 1024 * 1024) return false;
    std::vector<char> bytes(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() && (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size()))
        return false;
    const int count = static_cast<int>(bytes.size());
    const auto* raw = reinterpret_cast<const unsigned char*>(bytes.data());
    if (count >= 2 && raw[0] == 0xFF && raw[1] == 0xFE) {
        text.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), static_cast<size_t>(count - 2) / 2);
    } else if (count >= 3 && raw[0] == 0xEF && raw[1] == 0xBB && raw[2] == 0xBF) {
        text = Decode(CP_UTF8, bytes.data() + 3, count - 3);
    } else {
        text = Decode(CP_ACP, bytes.data(), count);
    }
    return true;
}

}  // namespace tarn::host
