#pragma once
// The object that a source calls.  It answers the source's event dispinterface
// and turns each event into a call of the handler's method of the same name.
#include <atomic>

#include "com/com_object.h"
#include "platform/com_ptr.h"
#include "platform/critical_section.h"
#include "source_events.h"

namespace tarn::kit {

class EventSink : public IDispatch {
public:
    // IDispatch is the identity; the source's event dispinterface is answered with it.
    struct EventsEntry {
        static bool Find(EventSink* sink, REFIID iid, void** out) noexcept {
            if (!::IsEqualIID(iid, sink->events_.iid)) return false;
            *out = static_cast<IDispatch*>(sink);
            return true;
        }
    };
    using Interfaces = InterfaceTable<Entry<IDispatch>, EventsEntry>;
    static constexpr bool kAtomicRefCount = true;  // sources call from any thread

    EventSink(SourceEvents events, ComPtr<IDispatch> handler);

    // Drops the handler: events that still arrive are counted and ignored.
    void Detach();
    LONG EventCount() const { return eventCount_; }

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

}  // namespace tarn::kit
