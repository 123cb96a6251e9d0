// TarnKit.EventBridge: connects a script object to a source's events, for
// script hosts that cannot connect to events themselves.
#pragma once

#include "TarnKit.h"
#include "dual_dispatch.h"
#include "error_info.h"
#include "event_sink.h"

namespace tarnkit {

class EventBridge final : public DualDispatch<IEventBridge, &IID_IEventBridge>,
                          public SupportsErrorInfoFor<&IID_IEventBridge>,
                          private RefCountedObject {
public:
    ~EventBridge() override;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return addRef(); }
    STDMETHODIMP_(ULONG) Release() override { return release(); }

    STDMETHODIMP Connect(IDispatch* source, IDispatch* handler) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP Wait(LONG milliseconds) override;
    STDMETHODIMP WaitForEvents(LONG count, LONG milliseconds, VARIANT_BOOL* reached) override;
    STDMETHODIMP get_EventCount(LONG* count) override;

private:
    ComPtr<IConnectionPoint> point_;  // set while connected
    DWORD cookie_ = 0;
    ComPtr<EventSink> sink_;          // kept after Disconnect for EventCount
};

}  // namespace tarnkit
