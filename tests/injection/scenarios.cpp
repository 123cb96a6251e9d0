// Each scenario's steps, and what counts as the right result or as the
// documented failure for each.
#include "injection/scenarios.h"

#include <olectl.h>

#include <algorithm>
#include <thread>
#include <utility>

#include "automation/unique_bstr.h"
#include "digitalio/event_sink.h"
#include "serial/standin_support.h"
#include "usb/usb_driver_fixture.h"

namespace tarn::test {
namespace {

constexpr DWORD kEventPatienceMs = 2000;

// ---- DriverEnumerator ------------------------------------------------------

using Names = std::vector<std::wstring>;

Names NamesOf(SAFEARRAY* array) {
    Names names;
    LONG lower = 0, upper = -1;
    if (!array || FAILED(::SafeArrayGetLBound(array, 1, &lower)) || FAILED(::SafeArrayGetUBound(array, 1, &upper)))
        return names;
    VARTYPE type = VT_EMPTY;
    ::SafeArrayGetVartype(array, &type);
    for (LONG i = lower; i <= upper; ++i) {
        Variant element;  // a script's list holds VARIANT strings
        BSTR text = nullptr;
        const HRESULT hr = type == VT_VARIANT ? ::SafeArrayGetElement(array, &i, &element)
                                              : ::SafeArrayGetElement(array, &i, &text);
        const UniqueBstr owned(text);
        if (FAILED(hr)) return {L"<unreadable>"};
        if (element.vt == VT_BSTR) text = element.bstrVal;
        names.emplace_back(text ? std::wstring(text, ::SysStringLen(text)) : L"<null>");
    }
    return names;
}

// The port list as the registry has it, read here without the library.
Names ExpectedPorts(bool raw) {
    Names ports;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256], data[256] = {};
        DWORD nameLength = 256, size = sizeof data - sizeof(wchar_t), type = 0;
        if (::RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
            ERROR_SUCCESS)
            break;
        if (type != REG_SZ) continue;
        std::wstring port(data);
        ports.push_back(raw ? port.substr(port.size() < 3 ? port.size() : 3) : port);
    }
    ::RegCloseKey(key);
    return ports;
}

// What an unopenable key gives instead of the ports: the values of the deepest
// key held, and none of the keys above SERIALCOMM holds port names.
bool ShorterListForUnopenedKey(const Names& got) {
    return FailingCalls::Failed() == "RegOpenKeyExW" && got.empty();
}

SAFEARRAY* FilledArray(ULONG count, const wchar_t* filler) {
    SAFEARRAYBOUND bound{count, 0};
    SAFEARRAY* array = ::SafeArrayCreate(VT_BSTR, 1, &bound);
    for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
        UniqueBstr text(::SysAllocString(filler));
        ::SafeArrayPutElement(array, &i, text.get());
    }
    return array;
}

void EnumerateByVtable(ScenarioRun& run) {
    ComPtr<IDriverEnumerator> enumerator = CreateByProgId<IDriverEnumerator>(L"TarnDriver.DriverEnumerator");
    if (!run.Step("create", bool(enumerator), !enumerator)) return;
    const UniqueBstr family(::SysAllocString(L"Serial"));
    Variant missing;
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    for (const wchar_t* option : {L"", L"RawNumbers", L"rawnumbers2"}) {
        const UniqueBstr optionText(::SysAllocString(option));
        const bool raw = std::wstring(option) == L"RawNumbers";
        SAFEARRAY* ports = nullptr;
        const HRESULT hr = enumerator->EnumeratePorts(family.get(), &ports, optionText.get(), missing, missing);
        const Names got = NamesOf(ports);
        ::SafeArrayDestroy(ports);
        const std::string what = "EnumeratePorts option \"" + std::string(option, option + wcslen(option)) + "\"";
        if (!run.Call(what, hr, got == ExpectedPorts(raw) || ShorterListForUnopenedKey(got), ports == nullptr))
            return;
    }
    // An array that comes in, larger than the list: filled from index 0, the rest kept.
    const Names expected = ExpectedPorts(false);
    const ULONG size = static_cast<ULONG>(expected.size()) + 2;
    SAFEARRAY* const given = FilledArray(size, L"kept");
    SAFEARRAY* ports = given;
    const HRESULT hr = enumerator->EnumeratePorts(family.get(), &ports, nullptr, missing, missing);
    Names want = expected;
    want.resize(size, L"kept");
    const Names got = NamesOf(ports);
    const bool untouched = ports == given && got == Names(size, L"kept");
    bool right = ports == given && got == want;
    if (FailingCalls::Failed() == "RegOpenKeyExW") right |= untouched;  // a shorter list: nothing to write
    ::SafeArrayDestroy(ports);
    run.Call("EnumeratePorts into an array that came in", hr, right, untouched);
}

void EnumerateByName(ScenarioRun& run) {
    ComPtr<IDispatch> enumerator = CreateByProgId<IDispatch>(L"TarnDriver.DriverEnumerator");
    if (!run.Step("create", bool(enumerator), !enumerator)) return;
    SAFEARRAY* ports = nullptr;
    VARIANTARG family = {}, array = {}, option = {};
    const UniqueBstr serial(::SysAllocString(L"serial")), raw(::SysAllocString(L"rawnumbers"));
    family.vt = VT_BSTR;
    family.bstrVal = serial.get();
    array.vt = VT_BYREF | VT_ARRAY | VT_BSTR;
    array.pparray = &ports;
    option.vt = VT_BSTR;
    option.bstrVal = raw.get();
    {
        CallResult call;
        Variant result;
        CallByName(enumerator.get(), L"EnumeratePorts", DISPATCH_METHOD, {family, array, option}, &result, call);
        const Names got = NamesOf(ports);
        const bool untouched = ports == nullptr;
        ::SafeArrayDestroy(std::exchange(ports, nullptr));
        if (!run.Invoke("EnumeratePorts", call, got == ExpectedPorts(true) || ShorterListForUnopenedKey(got),
                        untouched))
            return;
    }
    {
        // A script's variable: the list replaces what it held, as VARIANT strings.
        Variant list(L"kept");
        VARIANTARG variable = {};
        variable.vt = VT_BYREF | VT_VARIANT;
        variable.pvarVal = &list;
        CallResult call;
        CallByName(enumerator.get(), L"EnumeratePorts", DISPATCH_METHOD, {family, variable}, nullptr, call);
        const bool isList = list.vt == (VT_ARRAY | VT_VARIANT);
        const Names got = isList ? NamesOf(list.parray) : Names{};
        const bool kept = list.vt == VT_BSTR && std::wstring(list.bstrVal) == L"kept";
        if (!run.Invoke("EnumeratePorts into a script variable", call,
                        isList && (got == ExpectedPorts(false) || ShorterListForUnopenedKey(got)), kept))
            return;
    }
    // A call that reports an error: its text, or (when the record itself can't be made) no text.
    const UniqueBstr usb(::SysAllocString(L"usb"));
    family.bstrVal = usb.get();
    CallResult call;
    Variant result;
    CallByName(enumerator.get(), L"EnumeratePorts", DISPATCH_METHOD, {family, array}, &result, call);
    const bool reported = call.hr == DISP_E_EXCEPTION && call.Description() == L"Unknown Port Family";
    const bool reportedBare = call.hr == DISP_E_EXCEPTION && call.Description().empty();
    run.Step("EnumeratePorts of an unknown family by name (hr " + ScenarioRun::Hex(call.hr) + ")", reported && !ports,
             (reportedBare || call.hr == E_OUTOFMEMORY) && !ports);
    ::SafeArrayDestroy(ports);
}

// ---- Rs232Driver -----------------------------------------------------------

bool HoldsBytes(const VARIANT& value, const Bytes& bytes) {
    return value.vt == (VT_ARRAY | VT_UI1) && value.parray && ArrayBytes(value.parray) == bytes;
}

void SerialByVtable(ScenarioRun& run) {
    ComPtr<IRs232Driver> a = NewDriver(), b = NewDriver();
    if (!run.Step("create", a && b, !a || !b)) return;
    for (auto [driver, port] : {std::pair{a.get(), nulltest::kPortA}, std::pair{b.get(), nulltest::kPortB}}) {
        VARIANT_BOOL ok = 0;
        const HRESULT hr = driver->Open(port, &ok);
        if (!run.Call("Open COM" + std::to_string(port), hr, ok == 1, ok == 0, {E_FAIL}))
            return;
    }
    const Bytes data = Pattern(24, 3);
    if (!run.Call("Write", WriteBytes(a.get(), data), true, true, {E_FAIL, E_INVALIDARG})) return;
    Variant got;
    HRESULT hr = b->Read(static_cast<long>(data.size()), &got);
    if (!run.Call("Read", hr, HoldsBytes(got, data), got.vt == VT_EMPTY, {E_FAIL, E_OUTOFMEMORY})) return;
    if (!run.Call("put_BaudRate", a->put_BaudRate(19200), true)) return;
    if (!run.Call("Write back", WriteBytes(b.get(), {0x42}), true, true, {E_FAIL, E_INVALIDARG})) return;
    Variant available;
    for (ULONGLONG end = ::GetTickCount64() + kEventPatienceMs;; ::Sleep(5)) {
        ::VariantClear(&available);
        hr = a->ReadAvailableBytes(&available);
        if (hr != S_OK || (available.vt == (VT_ARRAY | VT_UI1) && !ArrayBytes(available.parray).empty()) || ::GetTickCount64() > end) break;
    }
    if (!run.Call("ReadAvailableBytes", hr, HoldsBytes(available, {0x42}), available.vt == VT_EMPTY, {E_FAIL}))
        return;
    BSTR name = nullptr;
    hr = a->get_PortName(&name);
    const bool right = name && std::wstring(name) == L"COM21";
    ::SysFreeString(name);
    if (!run.Call("PortName", hr, right, name == nullptr)) return;
    run.Call("Close", a->Close(), true) && run.Call("Close", b->Close(), true);
}

void SerialByName(ScenarioRun& run) {
    ComPtr<IDispatch> driver = CreateByProgId<IDispatch>(L"TarnDriver.Rs232Driver");
    ComPtr<IRs232Driver> peer = NewDriver();
    if (!run.Step("create", driver && peer, !driver || !peer)) return;
    VARIANT_BOOL peerOpen = 0;
    peer->Open(nulltest::kPortB, &peerOpen);
    if (!run.Step("Open the peer", peerOpen == 1, peerOpen == 0)) return;
    {
        // Open(nPortNumber:=21): a named argument, which the library puts in place itself.
        CallResult call;
        Variant opened;
        VARIANTARG port = Long(nulltest::kPortA);
        DISPID id = DISPID_UNKNOWN, parameter = 0;
        call.hr = DispIdOf(driver.get(), L"Open", id);
        DISPPARAMS params{&port, &parameter, 1, 1};
        if (SUCCEEDED(call.hr))
            call.hr = driver->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &opened,
                                     &call.exception, nullptr);
        const bool isTrue = opened.vt == VT_BOOL && opened.boolVal != 0;
        if (!run.Invoke("Open by its parameter's name", call, isTrue, true, {E_FAIL, E_OUTOFMEMORY})) return;
    }
    const Bytes data = Pattern(16, 9);
    {
        Variant bytes;
        MakeArray(bytes, data);
        CallResult call;
        CallByName(driver.get(), L"Write", DISPATCH_METHOD, {bytes}, nullptr, call);
        if (!run.Invoke("Write", call, true, true, {E_FAIL, E_OUTOFMEMORY, E_INVALIDARG})) return;
        Variant got;
        const HRESULT hr = peer->Read(static_cast<long>(data.size()), &got);
        if (!run.Call("the peer's Read", hr, HoldsBytes(got, data), got.vt == VT_EMPTY, {E_FAIL})) return;
    }
    {
        WriteBytes(peer.get(), data);
        CallResult call;
        Variant got;
        CallByName(driver.get(), L"Read", DISPATCH_METHOD, {Long(static_cast<long>(data.size()))}, &got, call);
        if (!run.Invoke("Read", call, HoldsBytes(got, data), got.vt == VT_EMPTY, {E_FAIL, E_OUTOFMEMORY})) return;
    }
    {
        CallResult call;
        Variant name;
        CallByName(driver.get(), L"PortName", DISPATCH_PROPERTYGET, {}, &name, call);
        const bool right = name.vt == VT_BSTR && name.bstrVal && std::wstring(name.bstrVal) == L"COM21";
        // A failed property get leaves the result as the platform's dispatch
        // leaves it (Wine's holds a string of its own): only the code counts.
        if (!run.Invoke("PortName", call, right)) return;
    }
    {
        CallResult call;
        CallByName(driver.get(), L"Close", DISPATCH_METHOD, {}, nullptr, call);
        if (!run.Invoke("Close", call, true)) return;
    }
    // A call that reports an error: its own text, or none when the record
    // can't be made; never the text of an earlier error left on the thread.
    ComPtr<ICreateErrorInfo> stale;
    ComPtr<IErrorInfo> staleInfo;
    if (SUCCEEDED(::CreateErrorInfo(stale.put()))) {
        stale->SetDescription(const_cast<LPOLESTR>(L"an earlier error"));
        if (SUCCEEDED(stale.As(staleInfo))) ::SetErrorInfo(0, staleInfo.get());
    }
    CallResult call;
    Variant got;
    CallByName(driver.get(), L"Read", DISPATCH_METHOD, {Long(4)}, &got, call);
    const std::wstring text = call.Description();
    const bool reported = call.hr == DISP_E_EXCEPTION && call.exception.scode == E_FAIL;
    // No record could be made, or the call by name could not be prepared.
    const bool bare = call.hr == E_FAIL || call.hr == E_OUTOFMEMORY || (reported && text.empty());
    run.Step("Read on a closed port by name (hr " + ScenarioRun::Hex(call.hr) + ")",
             reported && text == L"ReadFile failed" && got.vt == VT_EMPTY,
             (bare || (reported && text == L"variant create failed")) && got.vt == VT_EMPTY);
    peer->Close();
}

// ---- Rs232DigitalIoDriver --------------------------------------------------

// Sinks connected while events fire: the greeting of Open, then a line change
// the monitor thread turns into an event.  The library's own threads count
// their calls in the same sequence.
void DigitalIoInTheMultithreadedApartment(ScenarioRun& run) {
    nulltest::Handle peer = nulltest::OpenSync(24);
    if (!run.Step("the far end of COM23", peer.valid(), false)) return;
    ::EscapeCommFunction(peer.get(), CLRRTS);
    const UniqueBstr name(::SysAllocString(L"\\\\.\\COM23"));
    ComPtr<IRs232DigitalIoDriver> driver = CreateDriver();
    if (!run.Step("create", bool(driver), !driver)) return;
    ComPtr<EventSink> sink = EventSink::Create();
    ComPtr<IConnectionPoint> point = EventsPoint(driver.get());
    if (!run.Step("FindConnectionPoint", bool(point), false)) return;
    DWORD cookie = 0;
    HRESULT hr = point->Advise(sink.get(), &cookie);
    if (!run.Call("Advise", hr, cookie != 0, cookie == 0, {E_OUTOFMEMORY})) return;
    {
        // A second sink grows the list; both are enumerated, then the second goes.
        ComPtr<EventSink> second = EventSink::Create();
        DWORD secondCookie = 0;
        hr = point->Advise(second.get(), &secondCookie);
        if (!run.Call("a second Advise", hr, secondCookie != 0, secondCookie == 0, {CONNECT_E_ADVISELIMIT})) return;
        ComPtr<IEnumConnections> connections;
        hr = point->EnumConnections(connections.put());
        ULONG fetched = 0;
        for (CONNECTDATA data{}; connections && connections->Next(1, &data, nullptr) == S_OK; ++fetched)
            data.pUnk->Release();
        if (!run.Call("EnumConnections (" + std::to_string(fetched) + " fetched)", hr, fetched == 2, !connections))
            return;
        ComPtr<IConnectionPointContainer> container;
        ComPtr<IEnumConnectionPoints> points;
        driver.As(container);
        hr = container->EnumConnectionPoints(points.put());
        fetched = 0;
        for (IConnectionPoint* found = nullptr; points && points->Next(1, &found, nullptr) == S_OK; ++fetched)
            found->Release();
        if (!run.Call("EnumConnectionPoints", hr, fetched == 1, !points)) return;
        if (!run.Call("the second Unadvise", point->Unadvise(secondCookie), true)) return;
    }
    VARIANT_BOOL ok = 0;
    hr = driver->Open(name.get(), &ok);
    if (!run.Call("Open", hr, ok == 1, ok == 0, {DISP_E_EXCEPTION, E_OUTOFMEMORY})) return;
    // The greeting: its text, or an E_OUTOFMEMORY argument when its copy can't be made.
    sink->WaitFor(1, kEventPatienceMs);
    std::vector<Event> events = sink->Take();
    const bool greeted = events.size() == 1 && events[0].type == VT_BSTR && !events[0].text.empty();
    if (!run.Step("the greeting", greeted, events.size() == 1 && events[0].type == VT_ERROR)) return;
    // A monitor that could not start (its thread, its events) fires no line events.
    nulltest::Control control;
    auto waiting = [&] { return WaitUntil([&] { return control.State(23).waits_pending == 1; }, kEventPatienceMs); };
    if (!run.Step("the monitor waits", waiting(), true)) return;
    ::EscapeCommFunction(peer.get(), SETRTS);
    sink->WaitFor(1, kEventPatienceMs);
    events = sink->Take();
    const bool fired = events.size() == 1 && events[0].id == kOnCTS && events[0].level == 1;
    if (!run.Step("OnCTS", fired, events.empty())) return;
    long level = -1;
    hr = driver->GetCTS(&level);
    if (!run.Call("GetCTS", hr, level == 1)) return;
    BSTR portName = nullptr;
    hr = driver->get_PortName(&portName);
    const bool named = portName && std::wstring(portName) == L"\\\\.\\COM23";
    ::SysFreeString(portName);
    if (!run.Call("PortName", hr, named, portName == nullptr)) return;
    if (!run.Call("Unadvise", point->Unadvise(cookie), true)) return;
    run.Call("Close", driver->Close(), true);
}

// The class is free-threaded: made in the multithreaded apartment, as the soak
// makes it, it is called directly rather than through the proxies and the
// platform's worker threads an apartment of its own would need.
void DigitalIoWithEvents(ScenarioRun& run) {
    std::thread client([&run] {
        const HRESULT apartment = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        DigitalIoInTheMultithreadedApartment(run);
        if (SUCCEEDED(apartment)) ::CoUninitialize();
    });
    client.join();
}

// ---- UsbDriver -------------------------------------------------------------

void UsbRequestsTransfersAndLocks(ScenarioRun& run) {
    ComPtr<IUsbDriver> usb = NewUsbDriver();
    if (!run.Step("create", bool(usb), !usb)) return;
    VARIANT_BOOL opened = 0;
    HRESULT hr = usb->Open(etndevLumo, 0, &opened);
    if (!run.Call("Open", hr, opened == 1, opened == 0, {E_FAIL, E_OUTOFMEMORY})) return;
    const std::vector<BYTE> value = Pattern(8, 5);
    ByteArray written(value);
    Variant argument;
    argument.vt = VT_ARRAY | VT_UI1;
    argument.parray = written.get();
    hr = usb->VendorRequestWrite(0x31, 1, 2, argument);
    argument.vt = VT_EMPTY;  // the array stays with `written`
    if (!run.Call("VendorRequestWrite", hr, true, true, {E_FAIL, E_OUTOFMEMORY})) return;
    Variant read;
    hr = usb->VendorRequestRead(0x31, 0, 0, 8, &read);
    const bool readRight = read.vt == (VT_ARRAY | VT_UI1) && BytesOf(read.parray) == value;
    if (!run.Call("VendorRequestRead", hr, readRight, read.vt == VT_EMPTY, {E_FAIL, E_OUTOFMEMORY})) return;
    ByteArray out(Pattern(64, 1)), in(std::vector<BYTE>(64, 0));
    if (!run.Call("WriteMainEndpoint", usb->WriteMainEndpoint(64, out.address()), true, true, {E_FAIL})) return;
    SAFEARRAY* const given = in.get();
    hr = usb->ReadMainEndpoint(64, in.address());
    const bool inRight = in.Bytes() == out.Bytes();
    if (!run.Call("ReadMainEndpoint", hr, inRight, in.get() == given && in.Bytes() == std::vector<BYTE>(64, 0),
                  {E_FAIL, E_OUTOFMEMORY}))
        return;
    long key = 0;
    hr = usb->LockDevice(etnltRecording, &key);
    if (!run.Call("LockDevice", hr, key != 0, key == 0, {E_FAIL, E_OUTOFMEMORY})) return;
    if (!run.Call("UnlockDevice", usb->UnlockDevice(etnltRecording, key), true, true, {E_FAIL})) return;
    run.Call("Close", usb->Close(), true);
}
}  // namespace

const std::vector<Scenario>& Scenarios() {
    static const std::vector<Scenario> scenarios = {
        {"DriverEnumerator by vtable", EnumerateByVtable},
        {"DriverEnumerator by name", EnumerateByName},
        {"Rs232Driver by vtable", SerialByVtable},
        {"Rs232Driver by name", SerialByName},
        {"Rs232DigitalIoDriver with events", DigitalIoWithEvents},
        {"UsbDriver", UsbRequestsTransfersAndLocks},
    };
    return scenarios;
}

}  // namespace tarn::test
