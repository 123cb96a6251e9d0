// Failure injection: every scenario below runs twice with nothing failed (it
// must then succeed; the count of failable calls the library makes is taken),
// then with the 1st, the 2nd, ... counted call failing, each followed by a run
// with nothing failed, until a run reaches no injected failure.  Each run must
// end in the right result or in the member's documented failure with the
// caller's arguments as they were, and leave no handle, thread or heap block
// behind.  TARN_INJECTION_STRIDE=k runs only every kth N (the full sweep is the
// default); TARN_INJECTION_TRACE=1 names each counted call and its thread.
#include <windows.h>
#include <olectl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>

#include "automation/unique_bstr.h"
#include "common/process_resources.h"
#include "digitalio/event_sink.h"
#include "injection/failing_calls.h"
#include "serial/standin_support.h"
#include "usb/usb_driver_fixture.h"

namespace tarn::test {
namespace {

constexpr long kMostCallsPerRun = 5000;  // a scenario that counts more is looping
constexpr DWORD kEventPatienceMs = 2000;

// One run of a scenario: its steps report here, and the first step that goes
// wrong, or ends in a documented failure, ends the run.
class ScenarioRun {
public:
    // `right`: the step succeeded with the right result.  `documented`: it
    // ended in its documented failure and left the caller's arguments as they
    // were, which only an injected failure may cause.
    bool Step(const std::string& what, bool right, bool documented) {
        if (right) return true;
        if (documented && FailingCalls::AnyFailed()) return Stop("");
        return Stop(what + (documented ? ": failed with nothing failing under it" : ": wrong result"));
    }
    // A call's HRESULT: S_OK with `right`, or one of `codes` with `untouched`.
    bool Call(const std::string& what, HRESULT hr, bool right, bool untouched = true,
              std::initializer_list<HRESULT> codes = {E_OUTOFMEMORY}) {
        return Step(what + " (hr " + Hex(hr) + ")", hr == S_OK && right, Among(hr, codes) && untouched);
    }
    // A call made by name: the same, with a failure carried in DISP_E_EXCEPTION too.
    bool Invoke(const std::string& what, const CallResult& call, bool right, bool untouched = true,
                std::initializer_list<HRESULT> codes = {E_OUTOFMEMORY}) {
        const HRESULT carried = call.hr == DISP_E_EXCEPTION ? call.exception.scode : call.hr;
        return Step(what + " by name (hr " + Hex(call.hr) + ", scode " + Hex(carried) + ")",
                    call.hr == S_OK && right, Among(carried, codes) && untouched);
    }

    const std::string& complaint() const { return complaint_; }

    static std::string Hex(HRESULT hr) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
        return text;
    }

private:
    static bool Among(HRESULT hr, std::initializer_list<HRESULT> codes) {
        for (HRESULT code : codes)
            if (hr == code) return true;
        return false;
    }
    bool Stop(std::string complaint) {
        complaint_ = std::move(complaint);
        return false;
    }
    std::string complaint_;
};

struct Scenario {
    const char* name;
    std::function<void(ScenarioRun&)> body;
};
void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

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
        CallResult call;
        Variant opened;
        CallByName(driver.get(), L"Open", DISPATCH_METHOD, {Long(nulltest::kPortA)}, &opened, call);
        const bool isTrue = opened.vt == VT_BOOL && opened.boolVal != 0;
        if (!run.Invoke("Open", call, isTrue, true, {E_FAIL, E_OUTOFMEMORY})) return;
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

const Scenario kScenarios[] = {
    {"DriverEnumerator by vtable", EnumerateByVtable},
    {"DriverEnumerator by name", EnumerateByName},
    {"Rs232Driver by vtable", SerialByVtable},
    {"Rs232Driver by name", SerialByName},
    {"Rs232DigitalIoDriver with events", DigitalIoWithEvents},
    {"UsbDriver", UsbRequestsTransfersAndLocks},
};

long StrideFromEnvironment() {
    const char* text = std::getenv("TARN_INJECTION_STRIDE");
    const long stride = text ? std::atol(text) : 1;
    return stride > 0 ? stride : 1;
}

class FailureInjection : public ComTest, public ::testing::WithParamInterface<Scenario> {
protected:
    static void SetUpTestSuite() {
        // Held for the whole program, so objects made by ProgID come from this
        // very module (with its imports redirected) and it is never unloaded.
        module_ = ::LoadLibraryW(ModulePath().c_str());
        ASSERT_NE(nullptr, module_);
        redirected_ = FailingCalls::Install(module_);
    }

    void SetUp() override {
        ComTest::SetUp();
        ResetStandinPair(StandinPair());
        ResetStandinPair(PortPair{"standin", 23, 24});
        usbtest::Control control;
        ASSERT_TRUE(control.open()) << "the USB stand-in is not running";
        control.Restart(usbtest::Lumo(0));
    }

    // Runs the scenario with the `failAt`th call failing; returns the calls it counted.
    static long RunOnce(const Scenario& scenario, long failAt, std::string& complaint) {
        ScenarioRun run;
        FailingCalls::Arm(failAt);
        scenario.body(run);
        const long counted = FailingCalls::Disarm();
        complaint = run.complaint();
        return counted;
    }

    static HMODULE module_;
    static std::vector<std::string> redirected_;
};
HMODULE FailureInjection::module_ = nullptr;
std::vector<std::string> FailureInjection::redirected_;

TEST_P(FailureInjection, EveryCountedCallFailedInTurn) {
    const Scenario& scenario = GetParam();
    for (const char* needed : {"malloc", "SysAllocStringLen", "SafeArrayCreate", "CreateEventW", "RegOpenKeyExW"})
        ASSERT_NE(std::find(redirected_.begin(), redirected_.end(), needed), redirected_.end())
            << needed << " is not among the module's imports any more";

    // Nothing failed: the scenario must succeed, twice (the first warms up what
    // the library and COM make once per process).
    std::string complaint;
    long total = 0;
    for (int warm = 0; warm < 2; ++warm) {
        total = RunOnce(scenario, 0, complaint);
        ASSERT_EQ("", complaint) << "with nothing failed";
    }
    ASSERT_GT(total, 0) << "no call was counted: the objects do not come from the redirected module";

    const long stride = StrideFromEnvironment();
    long runs = 0, failures = 0;
    for (long n = 1; n <= kMostCallsPerRun; n += stride) {
        // A leak is growth that comes back each time the same call fails; what
        // a failure makes only once (the run time's first exception, COM's
        // first failed activation) does not.
        ResourceGrowth growth{};
        long blocks = 0, counted = 0;
        std::string failed;
        for (int attempt = 0; attempt < 2; ++attempt) {
            const ProcessResources before = MeasureSettled(CountThreads());
            const long blocksBefore = FailingCalls::LiveBlocks();
            counted = RunOnce(scenario, n, complaint);
            failed = FailingCalls::Failed();
            EXPECT_EQ("", complaint) << "call " << n << " (" << failed << ") failed";
            // Then once more with nothing failing: the library has recovered.
            RunOnce(scenario, 0, complaint);
            EXPECT_EQ("", complaint) << "the run after call " << n << " (" << failed << ") failed";
            growth = MeasureSettled(before.threads) - before;
            blocks = FailingCalls::LiveBlocks() - blocksBefore;
            if (growth.handles <= 0 && growth.threads <= 0 && blocks == 0) break;
        }
        ++runs;
        EXPECT_LE(growth.handles, 0) << "call " << n << " (" << failed << "): " << Describe(growth);
        EXPECT_LE(growth.threads, 0) << "call " << n << " (" << failed << "): " << Describe(growth);
        EXPECT_EQ(blocks, 0) << "heap blocks left by call " << n << " (" << failed << ")";
        if (::testing::Test::HasFailure()) break;  // the first fault is the one to read
        if (counted < n) break;                    // nothing failed: every call has had its turn
        ++failures;
    }
    std::printf("injection %-34s %4ld calls counted, %4ld runs with one failing (stride %ld)\n", scenario.name, total,
                failures, stride);
    std::fflush(stdout);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FailureInjection, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c)
                                 if (isalnum(static_cast<unsigned char>(*c))) name += *c;
                             return name;
                         });

}  // namespace
}  // namespace tarn::test
