#include "event_connections.h"

#include <utility>

#include "automation/hresult.h"
#include "source_events.h"

namespace tarn::host {
namespace {

ComPtr<IUnknown> IdentityOf(IDispatch* object) {
    ComPtr<IUnknown> identity;
    if (object) object->QueryInterface(IID_IUnknown, identity.put_void());
    return identity;
}

}  // namespace

HRESULT EventConnections::Connect(IDispatch* source, const std::wstring& prefix, IDispatch* handlers,
                                  std::wstring& problem) {
    kit::SourceEvents events;
    HRESULT hr = kit::FindSourceEvents(source, events, problem);
    if (FAILED(hr)) return hr;
    for (auto& event : events.names) event.second = prefix + event.second;

    ComPtr<IConnectionPointContainer> container;
    hr = source->QueryInterface(IID_IConnectionPointContainer, container.put_void());
    if (FAILED(hr)) {
        problem = L"The object has no connection points";
        return hr;
    }
    Connection connection;
    hr = container->FindConnectionPoint(events.iid, connection.point.put());
    if (FAILED(hr)) {
        problem = L"The object has no connection point for its event interface";
        return hr;
    }
    connection.sink = ComPtr<kit::EventSink>(new ComObject<kit::EventSink>(std::move(events), handlers));
    hr = connection.point->Advise(static_cast<IDispatch*>(connection.sink.get()), &connection.cookie);
    if (FAILED(hr)) {
        connection.sink->Detach();
        problem = L"The object refused the connection";
        return hr;
    }
    connection.identity = IdentityOf(source);
    connections_.push_back(std::move(connection));
    return S_OK;
}

HRESULT EventConnections::Disconnect(IDispatch* source) {
    const ComPtr<IUnknown> identity = IdentityOf(source);
    HRESULT hr = S_FALSE;
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (it->identity.get() != identity.get()) {
            ++it;
            continue;
        }
        End(*it);
        it = connections_.erase(it);
        hr = S_OK;
    }
    return hr;
}

void EventConnections::DisconnectAll() noexcept {
    for (Connection& connection : connections_) End(connection);
    connections_.clear();
}

void EventConnections::End(Connection& connection) noexcept {
    if (connection.point) connection.point->Unadvise(connection.cookie);
    if (connection.sink) connection.sink->Detach();  // events already on their way find no handler
}

}  // namespace tarn::host
