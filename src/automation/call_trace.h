#pragma once
// The trace line of one member call: the class and object, the member, its
// arguments in short (the bytes of transfers in hex at the highest level), the
// result with the error text the caller got, and the duration.  Out values are
// shown only after a success, when they are sure to be set.
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <type_traits>

#include "platform/trace.h"

namespace tarn {

class CallLine {
public:
    CallLine(const char* className, const void* object, const char* member);

    void Number(long long value);
    void Text(const wchar_t* text);
    void Variant(const VARIANT& value);
    void Array(const SAFEARRAY* array);

    // The values after "=": a member's out parameters.
    void OutNumber(long long value);
    void OutBool(VARIANT_BOOL value);
    void OutText(const wchar_t* text);
    void OutVariant(const VARIANT& value);

    // Appends the result and duration, and writes the line.
    void Finish(HRESULT hr, LONGLONG startedTicks);

private:
    void NextArgument();

    std::string text_;
    std::string outs_;
    bool firstArgument_ = true;
};

LONGLONG TraceTicks() noexcept;

template <class Argument>
void DescribeArgument(CallLine& line, const Argument& argument, bool succeeded) {
    if constexpr (std::is_same_v<Argument, BSTR>) {
        line.Text(argument);
    } else if constexpr (std::is_same_v<Argument, VARIANT>) {
        line.Variant(argument);
    } else if constexpr (std::is_same_v<Argument, SAFEARRAY**>) {
        line.Array(argument ? *argument : nullptr);  // in and out: the caller's array
    } else if constexpr (std::is_integral_v<Argument> || std::is_enum_v<Argument>) {
        line.Number(static_cast<long long>(argument));
    } else if constexpr (std::is_pointer_v<Argument>) {
        if (!succeeded || !argument) return;
        using Pointee = std::remove_pointer_t<Argument>;
        if constexpr (std::is_same_v<Pointee, VARIANT_BOOL>) line.OutBool(*argument);
        else if constexpr (std::is_same_v<Pointee, BSTR>) line.OutText(*argument);
        else if constexpr (std::is_same_v<Pointee, VARIANT>) line.OutVariant(*argument);
        else if constexpr (std::is_integral_v<Pointee>) line.OutNumber(static_cast<long long>(*argument));
    }
}

// Runs one member (body) and traces it: failed calls from level 1, every call
// from level 2.  While the trace is off this is one relaxed load and the call.
template <class Body, class... Arguments>
HRESULT TraceMember(const char* className, const void* object, const char* member, Body&& body,
                    const Arguments&... arguments) noexcept {
    if (!TraceWants(TraceLevel::Failures)) return body();
    const LONGLONG started = TraceTicks();
    const HRESULT hr = body();
    if (FAILED(hr) || TraceWants(TraceLevel::Calls)) {
        try {
            CallLine line(className, object, member);
            (DescribeArgument(line, arguments, SUCCEEDED(hr)), ...);
            line.Finish(hr, started);
        } catch (...) {
            // A line that cannot be made is left out; the call's outcome stands.
        }
    }
    return hr;
}

}  // namespace tarn
