#include "events/connection_point.h"

#include <olectl.h>

#include "automation/hresult.h"
#include "events/connection_enumerators.h"
#include "platform/com_ptr.h"

namespace tarn {

STDMETHODIMP ConnectionPoint::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!::IsEqualIID(iid, IID_IUnknown) && !::IsEqualIID(iid, IID_IConnectionPoint)) return E_NOINTERFACE;
    *out = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = events_;
    return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    return owner_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container));
}

STDMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!sink || !cookie) return E_POINTER;
    ComPtr<IDispatch> events;
    const HRESULT hr = sink->QueryInterface(events_, events.put_void());
    if (FAILED(hr) || !events) {
        *cookie = 0;
        return hr == E_NOINTERFACE || SUCCEEDED(hr) ? CONNECT_E_CANNOTCONNECT : hr;
    }
    Lock lock(sinks_.ObjectLock());
    *cookie = sinks_.Add(events.get());
    if (*cookie == 0) return CONNECT_E_ADVISELIMIT;  // `events` lets go of the sink
    events.detach();  // the list holds that reference now
    return S_OK;
}

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) {
    ComPtr<IDispatch> removed = sinks_.Remove(cookie);
    return removed ? S_OK : CONNECT_E_NOCONNECTION;  // released here, outside the lock
}

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return NoThrow([&] { return CreateConnectionsEnumerator(sinks_.Snapshot(), out); });
}

HRESULT ConnectionPoint::EnumerateAsContainer(IEnumConnectionPoints** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    return CreateConnectionPointEnumerator(this, out);
}

HRESULT ConnectionPoint::FindAsContainer(REFIID iid, IConnectionPoint** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!::IsEqualIID(iid, events_)) return CONNECT_E_NOCONNECTION;
    AddRef();
    *out = this;
    return S_OK;
}

}  // namespace tarn
