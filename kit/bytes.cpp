#include "bytes.h"

#include <cstring>
#include <cwchar>
#include <string>

#include "automation/error_report.h"
#include "automation/hresult.h"
#include "automation/script_byte_array.h"
#include "automation/unique_bstr.h"

namespace tarn::kit {
namespace {

const wchar_t kSource[] = L"TarnKit.Bytes";

HRESULT Fail(const std::wstring& message, HRESULT hr) {
    return ReportErrorFrom(kSource, IID_IBytes, message.c_str(), hr);
}

// Opens an array argument, or reports why it is not one.
HRESULT OpenArg(ScriptByteArrayInput& arg, const VARIANT& value) {
    const HRESULT hr = arg.Open(value);
    return FAILED(hr) ? Fail(arg.Problem(), hr) : hr;
}

// Runs `body` with the bytes of an array argument once they are open, without
// letting an exception out.
template <class Body>
HRESULT WithBytes(const VARIANT& value, Body&& body) {
    return NoThrow([&]() -> HRESULT {
        ScriptByteArrayInput arg;
        RETURN_IF_FAILED(OpenArg(arg, value));
        return body(arg);
    });
}

HRESULT OutOfMemory() {
    return Fail(L"Out of memory", E_OUTOFMEMORY);
}

int HexDigitValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;
}

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

// Parses hex text in two passes: count (and check) with `out` null, then fill.
// Blanks may stand between bytes, never between the two digits of one byte.
HRESULT ParseHex(const wchar_t* text, UINT length, BYTE* out, ULONG* count) {
    ULONG bytes = 0;
    int high = -1;  // the first digit of a byte, while its second is awaited
    for (UINT i = 0; i < length; ++i) {
        const wchar_t c = text[i];
        if (IsBlank(c)) {
            if (high >= 0) {
                wchar_t message[100];
                swprintf(message, 100, L"Hex digits of one byte are split by a blank at position %u", i + 1);
                return Fail(message, E_INVALIDARG);
            }
            continue;
        }
        const int digit = HexDigitValue(c);
        if (digit < 0) {
            wchar_t message[100];
            swprintf(message, 100, L"Not a hex digit at position %u (character code %u)", i + 1,
                     static_cast<unsigned>(c));
            return Fail(message, E_INVALIDARG);
        }
        if (high < 0) {
            high = digit;
        } else {
            if (out) out[bytes] = static_cast<BYTE>(high << 4 | digit);
            ++bytes;
            high = -1;
        }
    }
    if (high >= 0) return Fail(L"Odd number of hex digits: the last byte lacks its second digit", E_INVALIDARG);
    *count = bytes;
    return S_OK;
}

}  // namespace

STDMETHODIMP Bytes::FromHex(BSTR hex, VARIANT* bytes) {
    if (!bytes) return E_POINTER;
    VariantInit(bytes);
    return NoThrow([&] {
        const UINT length = SysStringLen(hex);
        ULONG count = 0;
        RETURN_IF_FAILED(ParseHex(hex, length, nullptr, &count));
        NewByteArray array;
        if (FAILED(array.Create(count))) return OutOfMemory();
        RETURN_IF_FAILED(ParseHex(hex, length, array.data(), &count));
        array.HandOut(bytes);
        return S_OK;
    });
}

STDMETHODIMP Bytes::FromText(BSTR text, VARIANT* bytes) {
    if (!bytes) return E_POINTER;
    VariantInit(bytes);
    const UINT length = SysStringLen(text);
    NewByteArray array;
    if (FAILED(array.Create(length))) return OutOfMemory();
    for (UINT i = 0; i < length; ++i) array.data()[i] = static_cast<BYTE>(text[i] & 0xFF);
    array.HandOut(bytes);
    return S_OK;
}

STDMETHODIMP Bytes::ToHex(VARIANT bytes, BSTR* hex) {
    if (!hex) return E_POINTER;
    *hex = nullptr;
    return WithBytes(bytes, [&](const ScriptByteArrayInput& arg) -> HRESULT {
        if (arg.size() > 0x3FFFFFFF) return OutOfMemory();
        UniqueBstr text(SysAllocStringLen(nullptr, arg.size() * 2));
        if (!text.get()) return OutOfMemory();
        static const wchar_t kDigits[] = L"0123456789ABCDEF";
        for (ULONG i = 0; i < arg.size(); ++i) {
            text.get()[2 * i] = kDigits[arg.data()[i] >> 4];
            text.get()[2 * i + 1] = kDigits[arg.data()[i] & 0xF];
        }
        *hex = text.release();
        return S_OK;
    });
}

STDMETHODIMP Bytes::ToText(VARIANT bytes, BSTR* text) {
    if (!text) return E_POINTER;
    *text = nullptr;
    return WithBytes(bytes, [&](const ScriptByteArrayInput& arg) -> HRESULT {
        UniqueBstr result(SysAllocStringLen(nullptr, arg.size()));
        if (!result.get()) return OutOfMemory();
        for (ULONG i = 0; i < arg.size(); ++i) result.get()[i] = arg.data()[i];
        *text = result.release();
        return S_OK;
    });
}

STDMETHODIMP Bytes::Length(VARIANT bytes, LONG* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return WithBytes(bytes, [&](const ScriptByteArrayInput& arg) -> HRESULT {
        *count = static_cast<LONG>(arg.size());
        return S_OK;
    });
}

STDMETHODIMP Bytes::ByteAt(VARIANT bytes, LONG index, LONG* value) {
    if (!value) return E_POINTER;
    *value = 0;
    return WithBytes(bytes, [&](const ScriptByteArrayInput& arg) -> HRESULT {
        if (index < 0 || static_cast<ULONG>(index) >= arg.size()) {
            wchar_t message[100];
            swprintf(message, 100, L"Index %ld is outside the array (length %lu)", static_cast<long>(index),
                     static_cast<unsigned long>(arg.size()));
            return Fail(message, E_INVALIDARG);
        }
        *value = arg.data()[index];
        return S_OK;
    });
}

STDMETHODIMP Bytes::Repeat(VARIANT bytes, LONG count, VARIANT* result) {
    if (!result) return E_POINTER;
    VariantInit(result);
    return WithBytes(bytes, [&](const ScriptByteArrayInput& arg) -> HRESULT {
        if (count < 0) return Fail(L"Count must not be negative", E_INVALIDARG);
        const ULONGLONG total = static_cast<ULONGLONG>(arg.size()) * static_cast<ULONGLONG>(count);
        if (total > 0x7FFFFFFF) return OutOfMemory();
        NewByteArray array;
        if (FAILED(array.Create(static_cast<ULONG>(total)))) return OutOfMemory();
        if (arg.size() > 0)
            for (LONG i = 0; i < count; ++i) std::memcpy(array.data() + i * arg.size(), arg.data(), arg.size());
        array.HandOut(result);
        return S_OK;
    });
}

STDMETHODIMP Bytes::Concat(VARIANT first, VARIANT second, VARIANT* result) {
    if (!result) return E_POINTER;
    VariantInit(result);
    return NoThrow([&] {
        ScriptByteArrayInput head, tail;
        RETURN_IF_FAILED(OpenArg(head, first));
        RETURN_IF_FAILED(OpenArg(tail, second));
        const ULONGLONG total = static_cast<ULONGLONG>(head.size()) + tail.size();
        if (total > 0x7FFFFFFF) return OutOfMemory();
        NewByteArray array;
        if (FAILED(array.Create(static_cast<ULONG>(total)))) return OutOfMemory();
        if (head.size() > 0) std::memcpy(array.data(), head.data(), head.size());
        if (tail.size() > 0) std::memcpy(array.data() + head.size(), tail.data(), tail.size());
        array.HandOut(result);
        return S_OK;
    });
}

}  // namespace tarn::kit
