#pragma once
// ConnectionPoint: an object's one connection point, for the event interface
// it is made with.  It lives inside the object and counts its references on
// the object, so a client that holds it keeps the object alive; it answers
// only IConnectionPoint and IUnknown.
#include <windows.h>
#include <ocidl.h>

#include "events/sink_list.h"

namespace tarn {

class ConnectionPoint final : public IConnectionPoint {
public:
    // `owner` is the object's interface that counts references; `events` the IID sinks must answer.
    ConnectionPoint(IUnknown* owner, REFIID events, SinkList& sinks) noexcept
        : owner_(owner), events_(events), sinks_(sinks) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }

    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** out) override;

    // The container's answers for an object whose one connection point this
    // is: an enumerator over it, and the point itself for its event interface.
    HRESULT EnumerateAsContainer(IEnumConnectionPoints** out) noexcept;
    HRESULT FindAsContainer(REFIID iid, IConnectionPoint** out) noexcept;

private:
    IUnknown* owner_;  // not counted: we are part of it
    const IID& events_;
    SinkList& sinks_;
};

}  // namespace tarn
