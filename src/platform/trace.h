#pragma once
// The trace a support engineer switches on without touching the client: the
// key Software\TarnDriver\Trace (HKEY_CURRENT_USER over HKEY_LOCAL_MACHINE),
// values File and Level, or the variables TARN_TRACE and TARN_TRACE_LEVEL.
// While it is off every call pays one relaxed load of the level; while it is
// on, nothing it does can fail a call or change the thread's last error.
// Lines also go to the debug output while a debugger is attached, and only
// there when a level is set without a file.
#include <windows.h>

#include <atomic>
#include <cstddef>

namespace tarn {

enum class TraceLevel : int {
    Off = 0,
    Failures = 1,  // failure sites and failed calls
    Calls = 2,     // every call, with its arguments in short
    Bytes = 3,     // every call, with the bytes of transfers in hex
};

namespace trace_detail {
inline std::atomic<int> level{0};
}  // namespace trace_detail

inline bool TraceWants(TraceLevel wanted) noexcept {
    return trace_detail::level.load(std::memory_order_relaxed) >= static_cast<int>(wanted);
}

// Reads the settings again and opens, keeps or closes the file to match;
// called when the module is first asked for a class and at every new object.
void ReloadTraceSettings() noexcept;

// Appends one line: the time, process and thread go before `text` (UTF-8, no
// line end), and the whole line is one write, so lines never interleave.
void WriteTraceLine(const char* text, size_t length) noexcept;

// A failure where it happens: the source position, what failed and its code.
void TraceFailedResult(const char* file, int line, const char* expression, HRESULT hr) noexcept;
void TraceFailedSystemCall(const char* file, int line, const char* call, DWORD error) noexcept;

// Keeps the thread's last error across everything the trace calls.
class [[nodiscard]] LastErrorKept {
public:
    LastErrorKept() noexcept : error_(::GetLastError()) {}
    ~LastErrorKept() { ::SetLastError(error_); }
    LastErrorKept(const LastErrorKept&) = delete;
    LastErrorKept& operator=(const LastErrorKept&) = delete;

private:
    DWORD error_;
};

// The length snprintf wrote into a buffer of `capacity`: what it reports,
// without what was cut off.
inline size_t FormattedLength(int result, size_t capacity) noexcept {
    if (result <= 0 || capacity == 0) return 0;
    return static_cast<size_t>(result) < capacity ? static_cast<size_t>(result) : capacity - 1;
}

// The system's text for a code, without its line end, into `out` (UTF-8).
void DescribeErrorCode(DWORD code, char* out, size_t capacity) noexcept;

}  // namespace tarn

// Records a failed HRESULT at the point of failure (level 1 and up).
#define TRACE_FAILED_RESULT(hr, expressionText)                                           \
    do {                                                                                  \
        if (::tarn::TraceWants(::tarn::TraceLevel::Failures))                             \
            ::tarn::TraceFailedResult(__FILE__, __LINE__, (expressionText), (hr));        \
    } while (0)

// Records a failed system call with the thread's last error, which it keeps.
#define TRACE_LAST_ERROR(callText)                                                        \
    do {                                                                                  \
        if (::tarn::TraceWants(::tarn::TraceLevel::Failures))                             \
            ::tarn::TraceFailedSystemCall(__FILE__, __LINE__, (callText), ::GetLastError()); \
    } while (0)
