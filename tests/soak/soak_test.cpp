// Soak: many cycles of create, open, I/O, close and destroy for each class on
// the stand-in devices, with the process's handles, committed private memory
// and threads taken after a warm-up and again at the end.  TARN_SOAK_CYCLES
// sets the count (`./tarn soak` runs 10,000 per class).
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "automation/unique_bstr.h"
#include "common/process_resources.h"
#include "digitalio/event_sink.h"
#include "serial/standin_support.h"
#include "usb/usb_driver_fixture.h"

namespace tarn::test {
namespace {

long CyclesFromEnvironment() {
    const char* text = std::getenv("TARN_SOAK_CYCLES");
    const long cycles = text ? std::atol(text) : 0;
    return cycles > 0 ? cycles : 150;
}

// Growth allowed after the warm-up, whatever the number of cycles: a leak of a
// handle or a thread per cycle, or a few dozen bytes per cycle over a long run,
// goes past it.
constexpr long kHandleBound = 2;
constexpr long kThreadBound = 1;
constexpr int64_t kCommittedBoundKiB = 512;

struct SoakResult {
    long cycles = 0;
    double seconds = 0;
    ResourceGrowth growth{};
    std::string failure;  // the first cycle that went wrong
};

// One cycle returns "" or what went wrong.
using Cycle = std::function<std::string(long)>;

SoakResult Soak(const char* name, long cycles, const Cycle& cycle) {
    SoakResult result;
    const long warmup = 20;
    for (long i = 0; i < warmup && result.failure.empty(); ++i) result.failure = cycle(i);
    if (!result.failure.empty()) return result;
    ::Sleep(200);
    const ProcessResources before = MeasureProcess();
    Stopwatch clock;
    for (long i = 0; i < cycles; ++i) {
        result.failure = cycle(warmup + i);
        if (!result.failure.empty()) {
            result.failure = "cycle " + std::to_string(i) + ": " + result.failure;
            break;
        }
        result.cycles = i + 1;
    }
    result.seconds = clock.Ms() / 1000.0;
    const ProcessResources after = MeasureSettled(before.threads);
    result.growth = after - before;
    std::printf("soak %-22s %6ld cycles in %7.1f s (%6.1f/s): %s [before: %ld handles, %lld KiB, %ld threads]\n", name,
                result.cycles, result.seconds, result.seconds > 0 ? result.cycles / result.seconds : 0.0,
                Describe(result.growth).c_str(), before.handles, static_cast<long long>(before.committedKiB),
                before.threads);
    std::fflush(stdout);
    return result;
}

void ExpectNoGrowth(const SoakResult& r, long cycles) {
    ASSERT_EQ(r.failure, "");
    EXPECT_EQ(r.cycles, cycles);
    EXPECT_LE(r.growth.handles, kHandleBound) << Describe(r.growth);
    EXPECT_LE(r.growth.slot, kHandleBound) << Describe(r.growth);
    EXPECT_LE(r.growth.threads, kThreadBound) << Describe(r.growth);
    EXPECT_LE(r.growth.committedKiB, kCommittedBoundKiB) << Describe(r.growth);
}

std::string Check(bool ok, const char* what) { return ok ? "" : what; }

class SoakTest : public MtaTest {
protected:
    const long cycles = CyclesFromEnvironment();
};

DWORD WINAPI WaitForRelease(void* event) { return ::WaitForSingleObject(event, INFINITE); }

// The measurement sees what a cycle leaks: a handle, 4 KiB of heap and, every
// 25th cycle, a thread.  Everything is given back at the end.
TEST_F(SoakTest, TheMeasurementSeesAPlantedLeak) {
    std::vector<HANDLE> handles;
    std::vector<void*> blocks;
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<HANDLE> threads;
    const long planted = 100;
    SoakResult r = Soak("planted leak", planted, [&](long i) {
        if (i < 20) return std::string();  // nothing leaks during the warm-up
        handles.push_back(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        blocks.push_back(::HeapAlloc(::GetProcessHeap(), 0, 4096));
        std::memset(blocks.back(), 1, 4096);
        if (i % 25 == 0)
            threads.push_back(::CreateThread(nullptr, 0, WaitForRelease, release, 0, nullptr));
        return std::string();
    });
    EXPECT_EQ(r.growth.handles, planted + static_cast<long>(threads.size())) << Describe(r.growth);
    EXPECT_EQ(r.growth.slot, planted + static_cast<long>(threads.size())) << Describe(r.growth);
    EXPECT_EQ(r.growth.threads, static_cast<long>(threads.size())) << Describe(r.growth);
    EXPECT_GE(r.growth.committedKiB, planted * 4) << Describe(r.growth);
    EXPECT_GT(r.growth.handles, kHandleBound);
    EXPECT_GT(r.growth.committedKiB, kCommittedBoundKiB);

    ::SetEvent(release);
    for (HANDLE t : threads) {
        ::WaitForSingleObject(t, INFINITE);
        ::CloseHandle(t);
    }
    for (HANDLE h : handles) ::CloseHandle(h);
    for (void* b : blocks) ::HeapFree(::GetProcessHeap(), 0, b);
    ::CloseHandle(release);
}

// Both ends of the null-modem cable are library objects: bytes go across and
// back, the rate changes, and both close.
TEST_F(SoakTest, Rs232DriverOnTheNullModemPair) {
    ResetStandinPair(StandinPair());
    SoakResult r = Soak("Rs232Driver", cycles, [](long i) {
        ComPtr<IRs232Driver> a = NewDriver(), b = NewDriver();
        if (!a || !b) return std::string("create");
        VARIANT_BOOL ok = 0;
        if (a->Open(nulltest::kPortA, &ok) != S_OK || ok != 1) return std::string("open COM21");
        if (b->Open(nulltest::kPortB, &ok) != S_OK || ok != 1) return std::string("open COM22");
        const Bytes data = Pattern(24, static_cast<BYTE>(i));
        if (WriteBytes(a.get(), data) != S_OK) return std::string("write");
        Variant got;
        if (b->Read(static_cast<long>(data.size()), &got) != S_OK || HandedOut(got) != data) return std::string("read");
        if (a->put_BaudRate(i % 2 ? 19200 : 115200) != S_OK) return std::string("baud rate");
        if (WriteBytes(b.get(), {static_cast<BYTE>(i)}) != S_OK) return std::string("write back");
        if (Drain(a.get(), 1) != Bytes{static_cast<BYTE>(i)}) return std::string("read available");
        if (a->Close() != S_OK || b->Close() != S_OK) return std::string("close");
        return std::string();
    });
    ExpectNoGrowth(r, cycles);
}

// Sinks come and go while the far end toggles the lines and events fire.
TEST_F(SoakTest, Rs232DigitalIoDriverWithSinksWhileEventsFire) {
    ResetStandinPair(PortPair{"standin", 23, 24});
    nulltest::Handle peer = nulltest::OpenSync(24);
    ASSERT_TRUE(peer.valid());
    ASSERT_TRUE(::EscapeCommFunction(peer.get(), CLRRTS));  // each cycle raises it and drops it again
    const UniqueBstr name(::SysAllocString(L"\\\\.\\COM23"));
    SoakResult r = Soak("Rs232DigitalIoDriver", cycles, [&](long i) {
        ComPtr<IRs232DigitalIoDriver> driver = CreateDriver();
        ComPtr<EventSink> first = EventSink::Create(), second = EventSink::Create();
        if (!driver) return std::string("create");
        const DWORD firstCookie = Connect(driver.get(), first.get());
        VARIANT_BOOL ok = 0;
        if (!firstCookie || driver->Open(name.get(), &ok) != S_OK || ok != 1) return std::string("open");
        if (first->Take().size() != 1) return std::string("greeting");
        // each change comes once the monitor waits for it, so none falls before its wait
        nulltest::Control control;
        auto armed = [&] { return WaitUntil([&] { return control.State(23).waits_pending == 1; }, 5000); };
        if (!armed()) return std::string("monitor not waiting");
        ::EscapeCommFunction(peer.get(), SETRTS);
        const DWORD secondCookie = Connect(driver.get(), second.get());
        if (!secondCookie) return std::string("advise while firing");
        if (!first->WaitFor(1, 5000)) return std::string("no event");
        if (Disconnect(driver.get(), firstCookie) != S_OK) return std::string("unadvise while firing");
        if (!armed()) return std::string("monitor not waiting again");
        ::EscapeCommFunction(peer.get(), CLRRTS);
        if (!second->WaitFor(1, 5000)) return std::string("no event for the second sink");
        long level = -1;
        if (driver->SetDTR(i % 2) != S_OK || driver->GetCTS(&level) != S_OK) return std::string("lines");
        if (Disconnect(driver.get(), secondCookie) != S_OK) return std::string("unadvise");
        if (driver->Close() != S_OK) return std::string("close");
        return std::string();
    });
    ExpectNoGrowth(r, cycles);
}

// Vendor requests, a loop through the main endpoint and a lock, each cycle on a new object.
TEST_F(SoakTest, UsbDriverRequestsTransfersAndLocks) {
    usbtest::Control control;
    ASSERT_TRUE(control.open()) << "the USB stand-in is not running";
    control.Restart(usbtest::Lumo(0));
    SoakResult r = Soak("UsbDriver", cycles, [](long i) {
        ComPtr<IUsbDriver> usb = NewUsbDriver();
        VARIANT_BOOL opened = 0;
        if (!usb || usb->Open(etndevLumo, 0, &opened) != S_OK || opened != 1) return std::string("open");
        const std::vector<BYTE> value = Pattern(8, static_cast<BYTE>(i));
        ByteArray written(value);
        Variant argument;
        argument.vt = VT_ARRAY | VT_UI1;
        argument.parray = written.get();
        const HRESULT wrote = usb->VendorRequestWrite(0x31, 1, 2, argument);
        argument.vt = VT_EMPTY;  // the array stays with `written`
        if (wrote != S_OK) return std::string("vendor write");
        Variant read;
        if (usb->VendorRequestRead(0x31, 0, 0, 8, &read) != S_OK || read.vt != (VT_ARRAY | VT_UI1) ||
            BytesOf(read.parray) != value)
            return std::string("vendor read");
        ByteArray out(Pattern(64, static_cast<BYTE>(i))), in(std::vector<BYTE>(64, 0));
        if (usb->WriteMainEndpoint(64, out.address()) != S_OK) return std::string("endpoint write");
        if (usb->ReadMainEndpoint(64, in.address()) != S_OK || in.Bytes() != out.Bytes())
            return std::string("endpoint read");
        long key = 0;
        if (usb->LockDevice(etnltRecording, &key) != S_OK || key == 0) return std::string("lock");
        if (usb->UnlockDevice(etnltRecording, key) != S_OK) return std::string("unlock");
        if (usb->Close() != S_OK) return std::string("close");
        return std::string();
    });
    ExpectNoGrowth(r, cycles);
}

// The class lives in a single-threaded apartment; its clients (scripts, VBA)
// create it in one.  (Made from the multithreaded apartment, each object would
// be created in a host apartment and reached through a proxy; Wine keeps about
// 2 KiB for every such creation, with or without this library.)
TEST_F(SoakTest, DriverEnumeratorListsThePorts) {
    SoakResult r;
    std::thread client([&] {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        r = Soak("DriverEnumerator", cycles, [](long i) {
            ComPtr<IDriverEnumerator> enumerator = CreateByProgId<IDriverEnumerator>(L"TarnDriver.DriverEnumerator");
            if (!enumerator) return std::string("create");
            Variant missing;
            missing.vt = VT_ERROR;
            missing.scode = DISP_E_PARAMNOTFOUND;
            SAFEARRAY* ports = nullptr;
            UniqueBstr family(::SysAllocString(L"serial"));
            UniqueBstr option(::SysAllocString(i % 2 ? L"" : L"rawnumbers"));
            const HRESULT hr = enumerator->EnumeratePorts(family.get(), &ports, option.get(), missing, missing);
            LONG lower = 0, upper = -1;
            if (ports) {
                ::SafeArrayGetLBound(ports, 1, &lower);
                ::SafeArrayGetUBound(ports, 1, &upper);
                ::SafeArrayDestroy(ports);
            }
            if (hr != S_OK || upper - lower + 1 < 4) return std::string("enumerate");
            return std::string();
        });
        ::CoUninitialize();
    });
    client.join();
    ExpectNoGrowth(r, cycles);
}

}  // namespace
}  // namespace tarn::test
