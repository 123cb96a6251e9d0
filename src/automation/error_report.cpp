#include "automation/error_report.h"

#include <oleauto.h>

#include "platform/com_ptr.h"

namespace tarn {

HRESULT ReportErrorFrom(const wchar_t* source, REFGUID interfaceId, const wchar_t* message, HRESULT hr) noexcept {
    const HRESULT result = hr == 0 ? DISP_E_EXCEPTION : hr;

    // The thread's earlier record goes first: if this one can't be made, the
    // caller must find none rather than take the old one for this call's.
    ::SetErrorInfo(0, nullptr);
    ComPtr<ICreateErrorInfo> record;
    if (FAILED(::CreateErrorInfo(record.put()))) return result;  // the outcome stays as it is
    if (source) record->SetSource(const_cast<LPOLESTR>(source));
    record->SetDescription(const_cast<LPOLESTR>(message));
    record->SetGUID(interfaceId);
    record->SetHelpFile(nullptr);
    record->SetHelpContext(0);

    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(record.As(info))) ::SetErrorInfo(0, info.get());
    return result;
}

HRESULT ReportError(REFCLSID reporter, const wchar_t* message, HRESULT hr) noexcept {
    LPOLESTR progId = nullptr;
    if (FAILED(::ProgIDFromCLSID(reporter, &progId))) progId = nullptr;
    const HRESULT result = ReportErrorFrom(progId, GUID_NULL, message, hr);
    ::CoTaskMemFree(progId);
    return result;
}

}  // namespace tarn
