// What the bridge needs to know about a source's events: the IID of its default
// event dispinterface and the name of each event by DISPID.
#pragma once

#include <map>
#include <string>

#include <windows.h>
#include <oaidl.h>

namespace tarn::kit {

struct SourceEvents {
    IID iid = GUID_NULL;
    std::map<DISPID, std::wstring> names;
};

// Asks IProvideClassInfo2 for the default source dispinterface, or else reads it
// from the coclass that IProvideClassInfo describes.  On failure `problem` says why.
HRESULT FindSourceEvents(IDispatch* source, SourceEvents& events, std::wstring& problem);

}  // namespace tarn::kit
