// An event client of Rs232DigitalIoDriver in C++: its own sink for
// _IRs232DigitalIoDriverEvents, connected through IConnectionPointContainer and
// IConnectionPoint::Advise.
//
//   events.exe [--manifest PATH] [PORT PEER]   two wired ports by name (default \\.\COM21 \\.\COM22)
//   --manifest PATH: without registration, from TarnDriver.manifest (activation_context.h)
//
// The driver watches PORT's inputs.  A second driver on PEER plays the device
// at the other end of the cable: its RTS is PORT's CTS, its DTR is PORT's DSR
// and DCD.  Exit code 0 when every expected event arrived.
#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "TarnDriver.h"
#include "activation_context.h"

using Microsoft::WRL::ComPtr;

namespace {

struct Bstr {
    BSTR value = nullptr;
    explicit Bstr(const wchar_t* text) : value(::SysAllocString(text)) {}
    ~Bstr() { ::SysFreeString(value); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
};

// DISPIDs of _IRs232DigitalIoDriverEvents.
enum : DISPID { kOnText = 1, kOnDSR = 2, kOnCTS = 3, kOnDCD = 4, kOnRI = 5 };

const wchar_t* EventName(DISPID id) {
    switch (id) {
    case kOnText: return L"OnText";
    case kOnDSR: return L"OnDSR";
    case kOnCTS: return L"OnCTS";
    case kOnDCD: return L"OnDCD";
    case kOnRI: return L"OnRI";
    default: return L"(unknown)";
    }
}

// The sink.  The events are a dispatch interface, so the sink is an IDispatch
// whose Invoke tells them apart by DISPID.  In the multithreaded apartment the
// line events arrive on the driver's monitor thread and OnText on the thread
// that calls Open, so the sink guards its record with a lock and signals each
// arrival through an event object.
class LineEvents final : public IDispatch {
public:
    LineEvents() {
        ::InitializeCriticalSection(&lock_);
        arrived_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }

    // Waits until `id` has arrived with `level` (any level for OnText), or `ms` have passed.
    bool WaitFor(DISPID id, long level, DWORD ms) {
        const ULONGLONG end = ::GetTickCount64() + ms;
        for (;;) {
            {
                Guard guard(lock_);
                for (size_t i = 0; i < seen_.size(); ++i) {
                    if (seen_[i].first == id && (id == kOnText || seen_[i].second == level)) {
                        seen_.erase(seen_.begin() + static_cast<long>(i));
                        return true;
                    }
                }
            }
            const ULONGLONG now = ::GetTickCount64();
            if (now >= end) return false;
            ::WaitForSingleObject(arrived_, static_cast<DWORD>(end - now));
        }
    }

    void Forget() {
        Guard guard(lock_);
        seen_.clear();
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        // The connection point asks for the event interface itself.
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID__IRs232DigitalIoDriverEvents) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = ::InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        if (!params || params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
        const VARIANT& argument = params->rgvarg[0];
        long level = -1;
        if (id == kOnText && argument.vt == VT_BSTR) {
            std::printf("%ls(\"%ls\")\n", EventName(id), argument.bstrVal);
        } else if (argument.vt == VT_I4) {
            level = argument.lVal;
            std::printf("%ls(%ld)\n", EventName(id), level);
        }
        std::fflush(stdout);
        {
            Guard guard(lock_);
            seen_.emplace_back(id, level);
        }
        ::SetEvent(arrived_);
        return S_OK;
    }

private:
    ~LineEvents() {
        ::CloseHandle(arrived_);
        ::DeleteCriticalSection(&lock_);
    }
    struct Guard {
        explicit Guard(CRITICAL_SECTION& cs) : cs_(cs) { ::EnterCriticalSection(&cs_); }
        ~Guard() { ::LeaveCriticalSection(&cs_); }
        CRITICAL_SECTION& cs_;
    };

    LONG references_ = 1;
    CRITICAL_SECTION lock_;
    HANDLE arrived_;
    std::vector<std::pair<DISPID, long>> seen_;
};

ComPtr<IRs232DigitalIoDriver> CreateDriver() {
    ComPtr<IRs232DigitalIoDriver> driver;
    if (FAILED(::CoCreateInstance(CLSID_Rs232DigitalIoDriver, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&driver))))
        return nullptr;
    return driver;
}

// The monitor starts watching on its own thread just after Open returns, and a
// change before that goes unreported (read the inputs for their levels at the
// start).  So the first change is repeated until its event shows that the
// monitor is watching.
bool WaitUntilWatched(IRs232DigitalIoDriver* peer, LineEvents* sink) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        peer->SetRTS(1);
        if (sink->WaitFor(kOnCTS, 1, 1000)) return true;
        peer->SetRTS(0);
        sink->WaitFor(kOnCTS, 0, 1000);
    }
    return false;
}

bool Open(IRs232DigitalIoDriver* driver, const wchar_t* name) {
    Bstr portName(name);
    VARIANT_BOOL opened = 0;
    // Names above COM9 need the device form \\.\COMnn; the name goes to the system unchanged.
    const HRESULT hr = driver->Open(portName.value, &opened);
    if (FAILED(hr)) std::printf("Open(%ls) failed: 0x%08lX\n", name, static_cast<unsigned long>(hr));
    return SUCCEEDED(hr) && opened;
}

}  // namespace

int main(int argc, char** argv) {
    const ManifestActivation activation(TakeManifestArgument(argc, argv));
    if (activation.failed()) return 1;
    std::wstring portName = L"\\\\.\\COM21", peerName = L"\\\\.\\COM22";
    if (argc > 2) {
        portName.assign(argv[1], argv[1] + std::strlen(argv[1]));
        peerName.assign(argv[2], argv[2] + std::strlen(argv[2]));
    }
    // The class lives in the multithreaded apartment; joining it lets the
    // events reach this sink directly, with no message loop needed.
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    int failures = 0;
    {
        ComPtr<IRs232DigitalIoDriver> driver = CreateDriver();
        ComPtr<IRs232DigitalIoDriver> peer = CreateDriver();
        ComPtr<IConnectionPointContainer> container;
        ComPtr<IConnectionPoint> point;
        LineEvents* sink = new LineEvents();
        DWORD cookie = 0;
        HRESULT hr = driver ? driver.As(&container) : REGDB_E_CLASSNOTREG;
        if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(DIID__IRs232DigitalIoDriverEvents, &point);
        if (SUCCEEDED(hr)) hr = point->Advise(sink, &cookie);
        if (FAILED(hr)) {
            std::printf("connecting the sink failed: 0x%08lX\n", static_cast<unsigned long>(hr));
            ++failures;
        }

        // Open greets every connected sink with OnText before it returns.
        if (!failures && (!peer || !Open(peer.Get(), peerName.c_str()) || !Open(driver.Get(), portName.c_str())))
            ++failures;
        if (!failures && !sink->WaitFor(kOnText, 0, 0)) ++failures;

        if (!failures) {
            // Changes shorter than this are not reported separately; the level is read after it.
            driver->put_DebounceTime(10);
            struct Step {
                const char* what;
                HRESULT (STDMETHODCALLTYPE IRs232DigitalIoDriver::*set)(long);
                long level;
                std::vector<DISPID> expected;
            };
            const Step steps[] = {
                {"peer raises DTR", &IRs232DigitalIoDriver::SetDTR, 1, {kOnDSR, kOnDCD}},
                {"peer drops RTS", &IRs232DigitalIoDriver::SetRTS, 0, {kOnCTS}},
                {"peer drops DTR", &IRs232DigitalIoDriver::SetDTR, 0, {kOnDSR, kOnDCD}},
            };
            std::printf("peer raises RTS\n");
            if (!WaitUntilWatched(peer.Get(), sink)) {
                std::printf("no OnCTS(1): the lines are not watched\n");
                ++failures;
            }
            sink->Forget();
            for (const Step& step : steps) {
                std::printf("%s\n", step.what);
                (peer.Get()->*step.set)(step.level);
                for (DISPID id : step.expected) {
                    if (!sink->WaitFor(id, step.level, 5000)) {
                        std::printf("no %ls(%ld) within 5 s\n", EventName(id), step.level);
                        ++failures;
                    }
                }
            }
            long cts = -1;
            driver->GetCTS(&cts);  // the inputs can also be read at any time
            std::printf("CTS now reads %ld\n", cts);
        }

        if (cookie) point->Unadvise(cookie);
        if (driver) driver->Close();
        if (peer) peer->Close();
        sink->Release();
    }
    ::CoUninitialize();
    std::printf(failures ? "%d expected events missing\n" : "every expected event arrived\n", failures);
    return failures ? 1 : 0;
}
