#pragma once
// A C++ client's event sink for _IRs232DigitalIoDriverEvents: it records every
// event (with the thread it arrived on and when), can be told to fail or to
// run a callback inside an event, and waits for events while pumping the
// messages that calls marshalled into a single-threaded apartment need.
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>


#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "TarnDriver.h"
#include "common/process_resources.h"
#include "digitalio/event_ids.h"
#include "platform/com_ptr.h"
#include "platform/critical_section.h"

namespace tarn::test {

struct Event {
    DISPID id = 0;
    long level = -1;    // the line events
    std::wstring text;  // OnText
    VARTYPE type = VT_EMPTY;
    DWORD thread = 0;
    LONGLONG ticks = 0;  // QueryPerformanceCounter at arrival
};

inline LONGLONG Now() {
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return t.QuadPart;
}
inline double TicksToMs(LONGLONG ticks) {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(f.QuadPart);
}

// Waits for `handle` or `timeoutMs`, delivering the calls marshalled into this thread meanwhile.
inline bool PumpingWait(HANDLE handle, DWORD timeoutMs) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        const DWORD left = now >= end ? 0 : static_cast<DWORD>(end - now);
        const DWORD r = ::MsgWaitForMultipleObjects(handle ? 1 : 0, &handle, FALSE, left, QS_ALLINPUT);
        if (handle && r == WAIT_OBJECT_0) return true;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (r == WAIT_TIMEOUT || left == 0) return handle && ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
    }
}
inline void Pump(DWORD ms) { PumpingWait(nullptr, ms); }

class EventSink final : public IDispatch {
public:
    static ComPtr<EventSink> Create() { return ComPtr<EventSink>::Attach(new EventSink()); }

    // Invoke answers with this (the events' results are ignored by the source).
    HRESULT invokeResult = S_OK;
    // Runs inside each event, on the thread that delivers it.
    std::function<void(const Event&)> onEvent;
    // Gives up the processor in every AddRef: a caller that hands the sink out
    // without a lock is then interrupted in the middle.
    bool yieldInAddRef = false;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || (iid == DIID__IRs232DigitalIoDriverEvents && answersEvents_)) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        if (yieldInAddRef) ::SwitchToThread();  // widens the window of a caller that races
        return ::InterlockedIncrement(&refs_);
    }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG n = ::InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return n;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        if (n) *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        Event e;
        e.id = id;
        e.thread = ::GetCurrentThreadId();
        e.ticks = Now();
        if (params && params->cArgs == 1) {
            const VARIANT& a = params->rgvarg[0];
            e.type = a.vt;
            if (a.vt == VT_I4) e.level = a.lVal;
            if (a.vt == VT_BSTR && a.bstrVal) e.text = a.bstrVal;
        }
        badCall_ |= !(flags & DISPATCH_METHOD) || !params || params->cArgs != 1 || params->cNamedArgs != 0;
        {
            Lock lock(lock_);
            events_.push_back(e);
        }
        ::SetEvent(arrived_);
        if (onEvent) onEvent(e);
        return invokeResult;
    }

    void RefuseEvents() { answersEvents_ = false; }
    std::vector<Event> Events() {
        Lock lock(lock_);
        return events_;
    }
    std::vector<Event> Take() {
        Lock lock(lock_);
        std::vector<Event> taken;
        taken.swap(events_);
        ::ResetEvent(arrived_);
        return taken;
    }
    size_t Count() {
        Lock lock(lock_);
        return events_.size();
    }
    // Waits (pumping) until at least `count` events have arrived.
    bool WaitFor(size_t count, DWORD timeoutMs = 5000) {
        const ULONGLONG end = ::GetTickCount64() + timeoutMs;
        while (Count() < count) {
            const ULONGLONG now = ::GetTickCount64();
            if (now >= end) return false;
            ::ResetEvent(arrived_);
            if (Count() >= count) break;
            PumpingWait(arrived_, static_cast<DWORD>(std::min<ULONGLONG>(end - now, 50)));
        }
        return true;
    }
    bool BadCall() const { return badCall_; }
    LONG RefCount() {
        AddRef();
        return Release();
    }

private:
    EventSink() : arrived_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~EventSink() { ::CloseHandle(arrived_); }

    LONG refs_ = 1;
    bool answersEvents_ = true;
    volatile bool badCall_ = false;
    CriticalSection lock_;
    std::vector<Event> events_;
    HANDLE arrived_;
};

inline ComPtr<IRs232DigitalIoDriver> CreateDriver() {
    CLSID clsid;
    ComPtr<IRs232DigitalIoDriver> driver;
    if (SUCCEEDED(::CLSIDFromProgID(L"TarnDriver.Rs232DigitalIoDriver", &clsid)))
        ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IRs232DigitalIoDriver, driver.put_void());
    return driver;
}

inline ComPtr<IConnectionPoint> EventsPoint(IUnknown* driver) {
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(driver->QueryInterface(IID_IConnectionPointContainer, container.put_void())))
        container->FindConnectionPoint(DIID__IRs232DigitalIoDriverEvents, point.put());
    return point;
}

inline DWORD Connect(IUnknown* driver, IUnknown* sink) {
    DWORD cookie = 0;
    ComPtr<IConnectionPoint> point = EventsPoint(driver);
    if (point) point->Advise(sink, &cookie);
    return cookie;
}

inline HRESULT Disconnect(IUnknown* driver, DWORD cookie) {
    ComPtr<IConnectionPoint> point = EventsPoint(driver);
    return point ? point->Unadvise(cookie) : E_FAIL;
}

// Counts the threads of this process, to see the monitor thread come and go.
inline size_t ThreadCount() {
    const long count = CountThreads();
    return count < 0 ? 0 : static_cast<size_t>(count);
}

// Waits (pumping) until `done()` holds or `timeoutMs` has passed.
template <class Condition>
bool WaitUntil(Condition done, DWORD timeoutMs) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    while (!done()) {
        if (::GetTickCount64() >= end) return false;
        Pump(5);
    }
    return true;
}

// Processor time (user + kernel) of this process so far, in milliseconds.
inline double ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

}  // namespace tarn::test
