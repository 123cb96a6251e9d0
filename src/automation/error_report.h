#pragma once
// Failing with a message: the record goes to the calling thread's error
// information, where Automation clients (Err.Description) find it.
#include <windows.h>

namespace tarn {

// Attaches an error record with the given source and interface identifier
// and returns `hr`, or DISP_E_EXCEPTION for 0.
HRESULT ReportErrorFrom(const wchar_t* source, REFGUID interfaceId, const wchar_t* message, HRESULT hr) noexcept;

// Attaches an error record (source: the class's versioned ProgID, the message,
// the null interface identifier) and returns `hr`, or DISP_E_EXCEPTION for 0.
HRESULT ReportError(REFCLSID reporter, const wchar_t* message, HRESULT hr) noexcept;

}  // namespace tarn
