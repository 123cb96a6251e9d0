#include "error_info.h"

namespace tarnkit {

HRESULT ReportError(const wchar_t* source, REFIID iid, const wchar_t* message, HRESULT hr)
{
    ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(create.put()))) {
        create->SetSource(const_cast<LPOLESTR>(source));
        create->SetDescription(const_cast<LPOLESTR>(message));
        create->SetGUID(iid);
        ComPtr<IErrorInfo> info;
        if (SUCCEEDED(create.As(info))) SetErrorInfo(0, info.get());
    }
    return hr;
}

}  // namespace tarnkit
