// The Lines page's sink for _IRs232DigitalIoDriverEvents: an IDispatch that
// hands each event, by DISPID, to the page.  It lives in the window's
// apartment, so COM delivers the events on the window's thread.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <functional>

#include "TarnDriver.h"

namespace panel {

class LineEventSink final : public IDispatch {
public:
    using Handler = std::function<void(DISPID, const VARIANT&)>;
    explicit LineEventSink(Handler handler) : handler_(std::move(handler)) {}
    // After this no event reaches the page (a call already marshalled may still arrive).
    void Detach() { handler_ = nullptr; }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != DIID__IRs232DigitalIoDriverEvents) return E_NOINTERFACE;
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = ::InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return count ? (*count = 0, S_OK) : E_POINTER; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        if (!params || params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
        if (handler_) handler_(id, params->rgvarg[0]);
        return S_OK;
    }

private:
    LONG references_ = 1;
    Handler handler_;
};

}  // namespace panel
