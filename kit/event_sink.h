// The object that a source calls.  It answers the source's event dispinterface
// and turns each event into a call of the handler's method of the same name.
#pragma once

#include <atomic>

#include "module.h"
#include "source_events.h"

namespace tarnkit {

class EventSink final : public IDispatch, private RefCountedObject {
public:
    EventSink(SourceEvents events, ComPtr<IDispatch> handler);

    // Drops the handler: events that still arrive are counted and ignored.
    void detach();
    LONG eventCount() const { return eventCount_; }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return addRef(); }
    STDMETHODIMP_(ULONG) Release() override { return release(); }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override;

private:
    const SourceEvents events_;
    CriticalSection handlerLock_;
    ComPtr<IDispatch> handler_;
    std::atomic<LONG> eventCount_{0};
};

}  // namespace tarnkit
