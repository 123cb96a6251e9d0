#include "event_sink.h"

#include <utility>

#include <dispex.h>

#include "automation/hresult.h"
#include "automation/unique_bstr.h"

namespace tarn::kit {

EventSink::EventSink(SourceEvents events, ComPtr<IDispatch> handler)
    : events_(std::move(events)), handler_(std::move(handler)) {}

void EventSink::Detach() {
    ComPtr<IDispatch> dropped;
    {
        Lock lock(handlerLock_);
        std::swap(dropped, handler_);
    }
    // `dropped` releases the handler here, outside the lock.
}

STDMETHODIMP EventSink::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP EventSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP EventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

STDMETHODIMP EventSink::Invoke(DISPID id, REFIID, LCID locale, WORD, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO* exception, UINT* argError) {
    ++eventCount_;
    return NoThrow([&]() -> HRESULT {
        const auto name = events_.names.find(id);
        if (name == events_.names.end()) return DISP_E_MEMBERNOTFOUND;

        ComPtr<IDispatch> handler;
        {
            Lock lock(handlerLock_);
            handler = handler_;
        }
        if (!handler) return S_OK;

        // Arguments go on as they came (DISPPARAMS order, last first); named
        // arguments would name the source's parameters, not the handler's.
        DISPPARAMS positional{params ? params->rgvarg : nullptr, nullptr, params ? params->cArgs : 0u, 0};
        std::wstring methodName = name->second;

        // Script objects are found by name through IDispatchEx (Wine's VBScript
        // class instances do not implement GetIDsOfNames); other objects through
        // IDispatch.  A handler without a method of this name does not want the event.
        ComPtr<IDispatchEx> handlerEx;
        if (SUCCEEDED(handler.As(handlerEx))) {
            UniqueBstr bstrName(SysAllocStringLen(methodName.data(), static_cast<UINT>(methodName.size())));
            if (!bstrName.get()) return E_OUTOFMEMORY;
            DISPID method = DISPID_UNKNOWN;
            if (FAILED(handlerEx->GetDispID(bstrName.get(), fdexNameCaseSensitive, &method))) return S_OK;
            return handlerEx->InvokeEx(method, locale, DISPATCH_METHOD, &positional, result, exception, nullptr);
        }
        LPOLESTR names[] = {methodName.data()};
        DISPID method = DISPID_UNKNOWN;
        if (FAILED(handler->GetIDsOfNames(IID_NULL, names, 1, locale, &method))) return S_OK;
        return handler->Invoke(method, IID_NULL, locale, DISPATCH_METHOD, &positional, result, exception, argError);
    });
}

}  // namespace tarn::kit
