#include "automation/call_trace.h"

#include <oleauto.h>
#include <stdint.h>
#include <stdio.h>

namespace tarn {
namespace {

constexpr int kShownTextChars = 80;
constexpr size_t kShownArrayStrings = 16;
constexpr size_t kShownBytes = 64 * 1024;

void AppendFormat(std::string& out, const char* format, ...) {
    char buffer[320];
    va_list arguments;
    va_start(arguments, format);
    const int length = vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    out.append(buffer, FormattedLength(length, sizeof buffer));
}

void AppendQuoted(std::string& out, const wchar_t* text) {
    if (!text) {
        out += "null";
        return;
    }
    const int length = static_cast<int>(wcsnlen(text, kShownTextChars + 1));
    const int shown = length > kShownTextChars ? kShownTextChars : length;
    char utf8[kShownTextChars * 3 + 1];
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, shown, utf8, sizeof utf8 - 1, nullptr, nullptr);
    out += '"';
    out.append(utf8, bytes > 0 ? static_cast<size_t>(bytes) : 0);
    out += length > kShownTextChars ? "...\"" : "\"";
}

size_t ElementCount(const SAFEARRAY& array) {
    size_t count = array.cDims ? 1 : 0;
    for (USHORT i = 0; i < array.cDims; ++i) count *= array.rgsabound[i].cElements;
    return count;
}

// A transfer's bytes as a port monitor shows them.
void AppendBytes(std::string& out, const BYTE* bytes, size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    const size_t shown = count < kShownBytes ? count : kShownBytes;
    out.reserve(out.size() + shown * 3 + 16);
    out += ':';
    for (size_t i = 0; i < shown; ++i) {
        out += ' ';
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    if (shown < count) out += " ...";
}

void AppendArray(std::string& out, const SAFEARRAY* array) {
    if (!array) {
        out += "null";
        return;
    }
    const size_t count = ElementCount(*array);
    VARTYPE type = VT_EMPTY;
    ::SafeArrayGetVartype(const_cast<SAFEARRAY*>(array), &type);
    if (array->cbElements == 1 && (type == VT_UI1 || type == VT_I1)) {
        AppendFormat(out, "%llu bytes", static_cast<unsigned long long>(count));
        if (TraceWants(TraceLevel::Bytes) && array->pvData && count > 0) AppendBytes(out, static_cast<const BYTE*>(array->pvData), count);
    } else if (type == VT_BSTR && array->pvData) {
        out += '{';
        const BSTR* strings = static_cast<const BSTR*>(array->pvData);
        for (size_t i = 0; i < count && i < kShownArrayStrings; ++i) {
            if (i) out += ", ";
            AppendQuoted(out, strings[i]);
        }
        out += count > kShownArrayStrings ? ", ...}" : "}";
    } else {
        AppendFormat(out, "%llu elements of type %u", static_cast<unsigned long long>(count), static_cast<unsigned>(type));
    }
}

void AppendVariant(std::string& out, const VARIANT& value) {
    const VARIANT* shown = &value;
    if (shown->vt == (VT_BYREF | VT_VARIANT) && shown->pvarVal) shown = shown->pvarVal;
    const VARTYPE type = shown->vt;
    if (type & VT_ARRAY) {
        AppendArray(out, (type & VT_BYREF) ? (shown->pparray ? *shown->pparray : nullptr) : shown->parray);
        return;
    }
    switch (type) {
    case VT_BSTR: AppendQuoted(out, shown->bstrVal); break;
    case VT_EMPTY: out += "Empty"; break;
    case VT_ERROR: out += shown->scode == DISP_E_PARAMNOTFOUND ? "missing" : "error"; break;
    case VT_I2: AppendFormat(out, "%d", shown->iVal); break;
    case VT_I4: AppendFormat(out, "%ld", shown->lVal); break;
    case VT_UI1: AppendFormat(out, "%u", shown->bVal); break;
    case VT_BOOL: out += shown->boolVal ? "True" : "False"; break;
    default: AppendFormat(out, "variant of type %u", static_cast<unsigned>(type)); break;
    }
}

}  // namespace

LONGLONG TraceTicks() noexcept {
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

CallLine::CallLine(const char* className, const void* object, const char* member) {
    text_.reserve(160);
    AppendFormat(text_, "%s@%0*llX %s(", className, static_cast<int>(sizeof(void*) * 2),
                 static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(object)), member);
}

void CallLine::NextArgument() {
    if (!firstArgument_) text_ += ", ";
    firstArgument_ = false;
}

void CallLine::Number(long long value) {
    NextArgument();
    AppendFormat(text_, "%lld", value);
}

void CallLine::Text(const wchar_t* text) {
    NextArgument();
    AppendQuoted(text_, text);
}

void CallLine::Array(const SAFEARRAY* array) {
    NextArgument();
    AppendArray(text_, array);
}

void CallLine::Variant(const VARIANT& value) {
    NextArgument();
    AppendVariant(text_, value);
}

void CallLine::OutNumber(long long value) {
    AppendFormat(outs_, outs_.empty() ? "%lld" : ", %lld", value);
}

void CallLine::OutBool(VARIANT_BOOL value) {
    if (!outs_.empty()) outs_ += ", ";
    outs_ += value ? "True" : "False";
}

void CallLine::OutText(const wchar_t* text) {
    if (!outs_.empty()) outs_ += ", ";
    AppendQuoted(outs_, text);
}

void CallLine::OutVariant(const VARIANT& value) {
    if (!outs_.empty()) outs_ += ", ";
    AppendVariant(outs_, value);
}

void CallLine::Finish(HRESULT hr, LONGLONG startedTicks) {
    LastErrorKept kept;
    const LONGLONG ended = TraceTicks();
    text_ += ')';
    if (!outs_.empty()) {
        text_ += " = ";
        text_ += outs_;
    }
    if (hr == S_OK) {
        text_ += " -> S_OK";
    } else {
        AppendFormat(text_, " -> 0x%08lX", static_cast<unsigned long>(hr));
    }
    if (FAILED(hr)) {
        // The text the caller finds: the thread's error record, which is put
        // back as it was; without one, the system's text for the code.
        IErrorInfo* info = nullptr;
        BSTR description = nullptr;
        if (::GetErrorInfo(0, &info) == S_OK && info) {
            info->GetDescription(&description);
            ::SetErrorInfo(0, info);
            info->Release();
        }
        if (description) {
            text_ += ' ';
            AppendQuoted(text_, description);
            ::SysFreeString(description);
        } else {
            char meaning[256];
            DescribeErrorCode(static_cast<DWORD>(hr), meaning, sizeof meaning);
            AppendFormat(text_, " (%s)", meaning);
        }
    }
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    if (frequency.QuadPart > 0)
        AppendFormat(text_, " %.3f ms", static_cast<double>(ended - startedTicks) * 1000.0 /
                                             static_cast<double>(frequency.QuadPart));
    WriteTraceLine(text_.data(), text_.size());
}

}  // namespace tarn
