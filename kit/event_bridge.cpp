#include "event_bridge.h"

#include <new>
#include <string>
#include <utility>

#include "automation/error_report.h"
#include "automation/hresult.h"
#include "message_pump.h"

namespace tarn::kit {
namespace {

const wchar_t kSource[] = L"TarnKit.EventBridge";

HRESULT Fail(const std::wstring& message, HRESULT hr) {
    return ReportErrorFrom(kSource, IID_IEventBridge, message.c_str(), hr);
}

HRESULT FailWithCode(const wchar_t* what, HRESULT hr) {
    wchar_t message[160];
    swprintf(message, 160, L"%ls (0x%08lX)", what, static_cast<unsigned long>(hr));
    return Fail(message, hr);
}

}  // namespace

EventBridge::~EventBridge() {
    Disconnect();
}

STDMETHODIMP EventBridge::Connect(IDispatch* source, IDispatch* handler) {
    if (!source) return Fail(L"Source must be an object", E_INVALIDARG);
    if (!handler) return Fail(L"Handler must be an object", E_INVALIDARG);
    return NoThrow([&]() -> HRESULT {
        Disconnect();

        SourceEvents events;
        std::wstring problem;
        HRESULT hr = FindSourceEvents(source, events, problem);
        if (FAILED(hr)) return Fail(problem, hr);
        const IID iid = events.iid;

        ComPtr<IConnectionPointContainer> container;
        hr = source->QueryInterface(IID_IConnectionPointContainer, container.put_void());
        if (FAILED(hr)) return Fail(L"The source has no connection points", hr);
        ComPtr<IConnectionPoint> point;
        hr = container->FindConnectionPoint(iid, point.put());
        if (FAILED(hr)) return FailWithCode(L"The source has no connection point for its event interface", hr);

        ComPtr<EventSink> sink(new ComObject<EventSink>(std::move(events), handler));
        DWORD cookie = 0;
        hr = point->Advise(static_cast<IDispatch*>(sink.get()), &cookie);
        if (FAILED(hr)) {
            sink->Detach();
            return FailWithCode(L"The source refused the connection", hr);
        }
        point_ = std::move(point);
        cookie_ = cookie;
        sink_ = std::move(sink);
        return S_OK;
    });
}

STDMETHODIMP EventBridge::Disconnect() {
    ComPtr<IConnectionPoint> point = std::move(point_);
    const DWORD cookie = std::exchange(cookie_, 0);
    if (point) point->Unadvise(cookie);
    if (sink_) sink_->Detach();  // events already on their way find no handler
    return S_OK;
}

STDMETHODIMP EventBridge::Wait(LONG milliseconds) {
    if (milliseconds < 0) return Fail(L"Milliseconds must not be negative", E_INVALIDARG);
    PumpMessagesUntil(static_cast<DWORD>(milliseconds), [] { return false; });
    return S_OK;
}

STDMETHODIMP EventBridge::WaitForEvents(LONG count, LONG milliseconds, VARIANT_BOOL* reached) {
    if (!reached) return E_POINTER;
    *reached = VARIANT_FALSE;
    if (milliseconds < 0) return Fail(L"Milliseconds must not be negative", E_INVALIDARG);
    const bool done = PumpMessagesUntil(static_cast<DWORD>(milliseconds), [&] {
        LONG received = 0;
        get_EventCount(&received);
        return received >= count;
    });
    *reached = done ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP EventBridge::get_EventCount(LONG* count) {
    if (!count) return E_POINTER;
    *count = sink_ ? sink_->EventCount() : 0;
    return S_OK;
}

}  // namespace tarn::kit
