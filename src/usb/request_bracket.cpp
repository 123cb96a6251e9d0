#include "usb/request_bracket.h"

#include <stdio.h>

#include "platform/trace.h"

namespace tarn::usb {

TimeCriticalPriority::TimeCriticalPriority() noexcept {
    const int current = ::GetThreadPriority(::GetCurrentThread());
    if (current == THREAD_PRIORITY_ERROR_RETURN || current == THREAD_PRIORITY_TIME_CRITICAL) return;
    previous_ = current;
    raised_ = ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) != FALSE;
    if (!raised_) TRACE_LAST_ERROR("SetThreadPriority(time critical)");
}

TimeCriticalPriority::~TimeCriticalPriority() {
    if (raised_) ::SetThreadPriority(::GetCurrentThread(), previous_);
}

DeviceMutexTurn::DeviceMutexTurn(HANDLE mutex) noexcept : mutex_(mutex) {
    // Without a mutex handle there is nothing to wait for (waiting on an invalid
    // handle would at best fail, at worst wait on something else entirely).
    if (!mutex_ || mutex_ == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER frequency{}, before{}, after{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&before);
    const DWORD outcome = ::WaitForSingleObjectEx(mutex_, kMaxWaitMilliseconds, FALSE);
    ::QueryPerformanceCounter(&after);
    obtained_ = outcome == WAIT_OBJECT_0 || outcome == WAIT_ABANDONED;
    if (frequency.QuadPart > 0)
        waitedSeconds_ = static_cast<double>(after.QuadPart - before.QuadPart) /
                         static_cast<double>(frequency.QuadPart);
    if (TraceWants(obtained_ ? TraceLevel::Calls : TraceLevel::Failures)) {
        char line[128];
        const int length = snprintf(line, sizeof line, "device mutex %s after %.3f ms%s",
                                     obtained_ ? "obtained" : "not obtained", waitedSeconds_ * 1000.0,
                                     outcome == WAIT_ABANDONED ? " (abandoned)" : "");
        WriteTraceLine(line, FormattedLength(length, sizeof line));
    }
}

DeviceMutexTurn::~DeviceMutexTurn() {
    if (obtained_) ::ReleaseMutex(mutex_);
}

}  // namespace tarn::usb
