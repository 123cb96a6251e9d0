#pragma once
// TarnKit.Bytes: builds and reads byte arrays for scripts, which cannot make
// one themselves and, under some hosts, cannot look inside one.
#include "TarnKit.h"
#include "com/automation_object.h"

namespace tarn::kit {

class Bytes : public AutomationObject<IBytes, CLSID_Bytes> {
public:
    STDMETHODIMP FromHex(BSTR hex, VARIANT* bytes) override;
    STDMETHODIMP FromText(BSTR text, VARIANT* bytes) override;
    STDMETHODIMP ToHex(VARIANT bytes, BSTR* hex) override;
    STDMETHODIMP ToText(VARIANT bytes, BSTR* text) override;
    STDMETHODIMP Length(VARIANT bytes, LONG* count) override;
    STDMETHODIMP ByteAt(VARIANT bytes, LONG index, LONG* value) override;
    STDMETHODIMP Repeat(VARIANT bytes, LONG count, VARIANT* result) override;
    STDMETHODIMP Concat(VARIANT first, VARIANT second, VARIANT* result) override;
};

}  // namespace tarn::kit
