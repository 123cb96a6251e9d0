// Rs232DigitalIoDriver figures on the null-modem stand-in, each beside its raw
// baseline measured in the same run:
//  - latency from the peer's line change to a C++ sink's event (debounce 0),
//    against a raw WaitCommEvent + GetCommModemStatus loop on the same pair;
//  - processor time of an idle object with its port open, against the same
//    process without it.
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "TarnDriver.h"
#include "platform/com_ptr.h"

namespace {

using tarn::ComPtr;

constexpr int kSamples = 300;
constexpr DWORD kIdleMs = 10000;
const wchar_t kOurPort[] = L"\\\\.\\COM21";
const wchar_t kPeerPort[] = L"\\\\.\\COM22";

double Ms(LONGLONG ticks) {
    static LONGLONG frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency);
}
LONGLONG Now() {
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return t.QuadPart;
}
double ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

struct Figures {
    double median, p99;
};
Figures Summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)]};
}

// A C++ sink that stamps the arrival of each CTS event.
class StampingSink final : public IDispatch {
public:
    std::atomic<LONGLONG> stamp{0};
    HANDLE arrived = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID__IRs232DigitalIoDriverEvents) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }   // lives on the stack of main
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        if (id == 3) {  // OnCTS
            stamp = Now();
            ::SetEvent(arrived);
        }
        return S_OK;
    }
};

HANDLE OpenPeer() {
    return ::CreateFileW(kPeerPort, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Toggles the peer's RTS kSamples times; `arrival` returns the stamp of the
// matching reading, or 0 when it did not come within a second.
template <class Arrival>
std::vector<double> Toggle(HANDLE peer, Arrival arrival) {
    std::vector<double> samples;
    bool on = false;
    for (int i = 0; i < kSamples; ++i) {
        on = !on;
        const LONGLONG start = Now();
        ::EscapeCommFunction(peer, on ? SETRTS : CLRRTS);
        const LONGLONG end = arrival();
        if (end) samples.push_back(Ms(end - start));
        ::Sleep(2);
    }
    return samples;
}

std::vector<double> RawLoop() {
    HANDLE port = ::CreateFileW(kOurPort, 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    HANDLE peer = OpenPeer();
    if (port == INVALID_HANDLE_VALUE || peer == INVALID_HANDLE_VALUE) return {};
    std::atomic<LONGLONG> stamp{0};
    std::atomic<bool> stop{false};
    HANDLE arrived = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ::SetCommMask(port, EV_CTS | EV_DSR | EV_RLSD | EV_RING);
    std::thread waiter([&] {
        HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        while (!stop) {
            DWORD events = 0;
            OVERLAPPED ov{};
            ov.hEvent = done;
            ::ResetEvent(done);
            if (!::WaitCommEvent(port, &events, &ov)) {
                if (::GetLastError() != ERROR_IO_PENDING) break;
                ::WaitForSingleObject(done, INFINITE);
            }
            DWORD status = 0;
            ::GetCommModemStatus(port, &status);
            if (events & EV_CTS) {
                stamp = Now();
                ::SetEvent(arrived);
            }
        }
        ::CloseHandle(done);
    });
    ::Sleep(100);
    std::vector<double> samples = Toggle(peer, [&]() -> LONGLONG {
        return ::WaitForSingleObject(arrived, 1000) == WAIT_OBJECT_0 ? stamp.load() : 0;
    });
    stop = true;
    ::SetCommMask(port, 0);  // ends the pending wait
    waiter.join();
    ::CloseHandle(arrived);
    ::CloseHandle(peer);
    ::CloseHandle(port);
    ::Sleep(100);
    return samples;
}

ComPtr<IRs232DigitalIoDriver> OpenDriver(IDispatch* sink, DWORD* cookie) {
    CLSID clsid;
    ComPtr<IRs232DigitalIoDriver> driver;
    if (FAILED(::CLSIDFromProgID(L"TarnDriver.Rs232DigitalIoDriver", &clsid))) return {};
    ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IRs232DigitalIoDriver, driver.put_void());
    if (!driver) return {};
    if (sink) {
        ComPtr<IConnectionPointContainer> container;
        ComPtr<IConnectionPoint> point;
        driver->QueryInterface(IID_IConnectionPointContainer, container.put_void());
        container->FindConnectionPoint(DIID__IRs232DigitalIoDriverEvents, point.put());
        point->Advise(sink, cookie);
    }
    BSTR name = ::SysAllocString(kOurPort);
    VARIANT_BOOL ok = 0;
    const HRESULT hr = driver->Open(name, &ok);
    ::SysFreeString(name);
    return SUCCEEDED(hr) ? driver : ComPtr<IRs232DigitalIoDriver>();
}

std::vector<double> DriverLoop() {
    StampingSink sink;
    DWORD cookie = 0;
    ComPtr<IRs232DigitalIoDriver> driver = OpenDriver(&sink, &cookie);
    HANDLE peer = OpenPeer();
    if (!driver || peer == INVALID_HANDLE_VALUE) return {};
    ::Sleep(100);
    ::ResetEvent(sink.arrived);
    std::vector<double> samples = Toggle(peer, [&]() -> LONGLONG {
        return ::WaitForSingleObject(sink.arrived, 1000) == WAIT_OBJECT_0 ? sink.stamp.load() : 0;
    });
    ::CloseHandle(peer);
    driver.reset();
    ::CloseHandle(sink.arrived);
    ::Sleep(100);
    return samples;
}

}  // namespace

int main() {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const std::vector<double> raw = RawLoop();
    const std::vector<double> ours = DriverLoop();
    if (raw.size() < kSamples / 2 || ours.size() < kSamples / 2) {
        std::printf("digitalio latency: too few samples (raw %zu, driver %zu): is the null-modem stand-in running?\n",
                    raw.size(), ours.size());
        return 1;
    }
    const Figures r = Summarise(raw), d = Summarise(ours);
    std::printf("digitalio latency, peer RTS change to OnCTS (debounce 0), %d toggles:\n", kSamples);
    std::printf("  raw WaitCommEvent + GetCommModemStatus: median %.3f ms, p99 %.3f ms (%zu samples)\n", r.median,
                r.p99, raw.size());
    std::printf("  Rs232DigitalIoDriver to a C++ sink:     median %.3f ms, p99 %.3f ms (%zu samples)\n", d.median,
                d.p99, ours.size());
    std::printf("  ratio of medians: %.2f (goal: median <= 1 ms and <= 1.2x raw)\n", d.median / r.median);

    // The measuring method itself: 200 ms of busy work must show as about 200 ms.
    double before = ProcessCpuMs();
    for (const LONGLONG start = Now(); Ms(Now() - start) < 200.0;) {
    }
    std::printf("digitalio idle check: 200 ms of busy work measured as %.0f ms of processor time\n",
                ProcessCpuMs() - before);
    before = ProcessCpuMs();
    ::Sleep(kIdleMs);
    const double baseline = ProcessCpuMs() - before;
    ComPtr<IRs232DigitalIoDriver> idle = OpenDriver(nullptr, nullptr);
    ::Sleep(200);
    before = ProcessCpuMs();
    ::Sleep(kIdleMs);
    const double withObject = ProcessCpuMs() - before;
    idle.reset();
    std::printf("digitalio idle processor time over %lu s: process alone %.1f ms, with an open object %.1f ms "
                "(%.3f%% of a core; goal < 1%%)\n",
                kIdleMs / 1000, baseline, withObject, 100.0 * (withObject - baseline) / kIdleMs);
    ::CoUninitialize();
    return 0;
}
