#pragma once
// WScript.ConnectObject's connections: each object's default event interface
// advised with a sink that calls the script's Prefix_EventName procedures.
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "event_sink.h"
#include "platform/com_ptr.h"

namespace tarn::host {

class EventConnections {
public:
    EventConnections() = default;
    EventConnections(const EventConnections&) = delete;
    EventConnections& operator=(const EventConnections&) = delete;
    ~EventConnections() { DisconnectAll(); }

    // Events of `source` call `handlers`' procedure prefix + event name; one
    // the script does not define is left alone.  On failure `problem` says why.
    HRESULT Connect(IDispatch* source, const std::wstring& prefix, IDispatch* handlers, std::wstring& problem);
    // Every connection to `source`; S_FALSE when it had none.
    HRESULT Disconnect(IDispatch* source);
    void DisconnectAll() noexcept;

private:
    struct Connection {
        ComPtr<IUnknown> identity;
        ComPtr<IConnectionPoint> point;
        DWORD cookie = 0;
        ComPtr<kit::EventSink> sink;
    };
    static void End(Connection& connection) noexcept;

    std::vector<Connection> connections_;
};

}  // namespace tarn::host
