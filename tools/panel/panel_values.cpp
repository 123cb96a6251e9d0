// Texts and values the pages show and keep: failure texts, hex, byte arrays
// and the per-user settings.
#include "panel_support.h"

#include <cstring>
#include <cwchar>
#include <cwctype>

#include "platform/com_ptr.h"

namespace panel {

// --- Texts --------------------------------------------------------------------------
std::wstring DescribeFailure(HRESULT hr) {
    wchar_t code[16];
    std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    std::wstring text = code;
    tarn::ComPtr<IErrorInfo> info;
    BSTR description = nullptr, source = nullptr;
    if (::GetErrorInfo(0, info.put()) == S_OK && info) {
        info->GetDescription(&description);
        info->GetSource(&source);
    }
    if (description && *description) {
        text += L" \"" + std::wstring(description) + L"\"";
        if (source && *source) text += L" (" + std::wstring(source) + L")";
    } else {
        wchar_t* system = nullptr;
        if (::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&system), 0, nullptr)) {
            std::wstring message = system;
            while (!message.empty() && std::iswspace(message.back())) message.pop_back();
            text += L" (" + message + L")";
            ::LocalFree(system);
        }
    }
    ::SysFreeString(description);
    ::SysFreeString(source);
    return text;
}

std::wstring ToHex(const std::vector<uint8_t>& bytes) {
    std::wstring text;
    wchar_t two[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::swprintf(two, 4, L"%02X", bytes[i]);
        if (i) text += L' ';
        text += two;
    }
    return text;
}

bool ParseHex(const std::wstring& text, std::vector<uint8_t>* bytes) {
    bytes->clear();
    size_t i = 0;
    while (i < text.size()) {
        if (std::iswspace(text[i]) || text[i] == L',') { ++i; continue; }
        if (text.compare(i, 2, L"0x") == 0 || text.compare(i, 2, L"0X") == 0) i += 2;
        size_t digits = 0;
        unsigned value = 0;
        while (i < text.size() && std::iswxdigit(text[i]) && digits < 2) {
            value = value * 16 + static_cast<unsigned>(std::iswdigit(text[i]) ? text[i] - L'0' : (text[i] | 0x20) - L'a' + 10);
            ++i, ++digits;
        }
        if (digits == 0) return false;
        bytes->push_back(static_cast<uint8_t>(value));
    }
    return true;
}

std::vector<uint8_t> BytesOf(const VARIANT& value) {
    std::vector<uint8_t> bytes;
    if (value.vt != (VT_ARRAY | VT_UI1) || !value.parray || ::SafeArrayGetDim(value.parray) != 1) return bytes;
    LONG low = 0, high = -1;
    ::SafeArrayGetLBound(value.parray, 1, &low);
    ::SafeArrayGetUBound(value.parray, 1, &high);
    void* data = nullptr;
    if (high >= low && SUCCEEDED(::SafeArrayAccessData(value.parray, &data))) {
        const auto* first = static_cast<const uint8_t*>(data);
        bytes.assign(first, first + (high - low + 1));
        ::SafeArrayUnaccessData(value.parray);
    }
    return bytes;
}

SAFEARRAY* NewByteArray(const std::vector<uint8_t>& bytes) {
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    void* data = nullptr;
    if (array && !bytes.empty() && SUCCEEDED(::SafeArrayAccessData(array, &data))) {
        std::memcpy(data, bytes.data(), bytes.size());
        ::SafeArrayUnaccessData(array);
    }
    return array;
}

std::wstring Printable(const std::vector<uint8_t>& bytes) {
    std::wstring text;
    for (uint8_t b : bytes) text += (b >= 0x20 && b < 0x7F) ? static_cast<wchar_t>(b) : L'.';
    return text;
}

// --- Settings -----------------------------------------------------------------------
namespace settings {
namespace {
constexpr const wchar_t* kKey = L"Software\\TarnDriver\\Panel";
}

std::wstring Text(const wchar_t* name, const std::wstring& fallback) {
    wchar_t value[260];
    DWORD size = sizeof value;
    if (::RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return fallback;
    return value;
}

DWORD Number(const wchar_t* name, DWORD fallback) {
    DWORD value = 0, size = sizeof value;
    if (::RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return fallback;
    return value;
}

void SetText(const wchar_t* name, const std::wstring& value) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kKey, name, REG_SZ, value.c_str(),
                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void SetNumber(const wchar_t* name, DWORD value) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kKey, name, REG_DWORD, &value, sizeof value);
}
}  // namespace settings

}  // namespace panel
