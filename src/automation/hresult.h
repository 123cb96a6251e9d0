#pragma once
#include <windows.h>

// Early return on failure, the way every interface method reports errors.
#define RETURN_IF_FAILED(expr)                     \
    do {                                           \
        const HRESULT hr_checked_ = (expr);        \
        if (FAILED(hr_checked_)) return hr_checked_; \
    } while (0)

#define RETURN_HR_IF_NULL(hr, ptr)       \
    do {                                 \
        if ((ptr) == nullptr) return (hr); \
    } while (0)
