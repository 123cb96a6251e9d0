// Failing with a message: attaches an error record (source, description,
// interface) to the calling thread, which scripts see as Err.Description.
#pragma once

#include "com_handles.h"

namespace tarnkit {

// Returns `hr` so a method can `return ReportError(...)`.
HRESULT ReportError(const wchar_t* source, REFIID iid, const wchar_t* message, HRESULT hr);

// ISupportErrorInfo for an object whose one dual interface reports errors.
template <const IID* ReportingIid>
class SupportsErrorInfoFor : public ISupportErrorInfo {
public:
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override
    {
        return IsEqualIID(iid, *ReportingIid) ? S_OK : S_FALSE;
    }
};

}  // namespace tarnkit
