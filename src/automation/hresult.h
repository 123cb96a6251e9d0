#pragma once
// Error paths of interface methods: early returns on failure, and no
// exception across the interface.
#include <windows.h>

#include <new>

#include "platform/trace.h"

// Early return on failure, the way every interface method reports errors;
// the trace records the failing expression where it failed.
#define RETURN_IF_FAILED(expr)                         \
    do {                                               \
        const HRESULT hr_checked_ = (expr);            \
        if (FAILED(hr_checked_)) {                     \
            TRACE_FAILED_RESULT(hr_checked_, #expr);   \
            return hr_checked_;                        \
        }                                              \
    } while (0)

#define RETURN_HR_IF_NULL(hr, ptr)                             \
    do {                                                       \
        if ((ptr) == nullptr) {                                \
            TRACE_FAILED_RESULT((hr), #ptr " is null");        \
            return (hr);                                       \
        }                                                      \
    } while (0)

namespace tarn {

// Runs a method body so that no exception crosses the interface: running out
// of memory becomes E_OUTOFMEMORY, anything else E_UNEXPECTED.
template <class Body>
HRESULT NoThrow(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace tarn
