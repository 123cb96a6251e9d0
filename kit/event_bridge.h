#pragma once
// TarnKit.EventBridge: connects a script object to a source's events, for
// script hosts that cannot connect to events themselves.
#include "TarnKit.h"
#include "com/automation_object.h"
#include "event_sink.h"
#include "platform/com_ptr.h"

namespace tarn::kit {

class EventBridge : public AutomationObject<IEventBridge, CLSID_EventBridge> {
public:
    // Registered "Apartment": only its apartment's thread calls it (the sink,
    // which sources call from any thread, holds no reference to the bridge).
    static constexpr bool kAtomicRefCount = false;

    ~EventBridge();

    STDMETHODIMP Connect(IDispatch* source, IDispatch* handler) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP Wait(LONG milliseconds) override;
    STDMETHODIMP WaitForEvents(LONG count, LONG milliseconds, VARIANT_BOOL* reached) override;
    STDMETHODIMP get_EventCount(LONG* count) override;

private:
    ComPtr<IConnectionPoint> point_;  // set while connected
    DWORD cookie_ = 0;
    ComPtr<EventSink> sink_;  // kept after Disconnect for EventCount
};

}  // namespace tarn::kit
