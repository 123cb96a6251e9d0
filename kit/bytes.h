// TarnKit.Bytes: builds and reads byte arrays for scripts, which cannot make
// one themselves and, under some hosts, cannot look inside one.
#pragma once

#include "TarnKit.h"
#include "dual_dispatch.h"
#include "error_info.h"

namespace tarnkit {

class Bytes final : public DualDispatch<IBytes, &IID_IBytes>,
                    public SupportsErrorInfoFor<&IID_IBytes>,
                    private RefCountedObject {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return addRef(); }
    STDMETHODIMP_(ULONG) Release() override { return release(); }

    STDMETHODIMP FromHex(BSTR hex, VARIANT* bytes) override;
    STDMETHODIMP FromText(BSTR text, VARIANT* bytes) override;
    STDMETHODIMP ToHex(VARIANT bytes, BSTR* hex) override;
    STDMETHODIMP ToText(VARIANT bytes, BSTR* text) override;
    STDMETHODIMP Length(VARIANT bytes, LONG* count) override;
    STDMETHODIMP ByteAt(VARIANT bytes, LONG index, LONG* value) override;
    STDMETHODIMP Repeat(VARIANT bytes, LONG count, VARIANT* result) override;
    STDMETHODIMP Concat(VARIANT first, VARIANT second, VARIANT* result) override;
};

}  // namespace tarnkit
