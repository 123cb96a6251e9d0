// Every class under the stand-ins' fault controls: a device pulled out while a
// call waits on it, requests that fail, a port name that is no serial port.
// Each call ends with its documented failure within its bound, the object
// stays usable (close, reopen once the device is back), and the process ends
// each case holding no more handles or threads than before.
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

// Slack on top of a documented bound: the machine may be busy.
constexpr double kSlackMs = 3000;

// Runs `call` on its own thread in the multithreaded apartment; `during` runs
// on this thread meanwhile.  Returns the call's result and how long it took.
struct Timed {
    HRESULT hr = E_UNEXPECTED;
    double ms = 0;
};
Timed CallWhile(const std::function<HRESULT()>& call, const std::function<void()>& during) {
    Timed result;
    HANDLE finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread worker([&] {
        ApartmentScope apartment;
        Stopwatch clock;
        result.hr = call();
        result.ms = clock.Ms();
        ::SetEvent(finished);
    });
    during();
    // A call that never returns fails the test here instead of hanging it.
    const bool ended = ::WaitForSingleObject(finished, 60000) == WAIT_OBJECT_0;
    EXPECT_TRUE(ended) << "the call did not return";
    if (ended) worker.join();
    else worker.detach();
    ::CloseHandle(finished);
    return result;
}

// Fresh devices for each test, and everything plugged back in after it.
class FaultTest : public MtaTest {
protected:
    void SetUp() override {
        MtaTest::SetUp();
        ResetStandinPair(StandinPair());
        ResetStandinPair(PortPair{"standin", 23, 24});
        ASSERT_TRUE(usb.open()) << "the USB stand-in is not running";
        usb.Restart(usbtest::Lumo(0));
    }
    void TearDown() override {
        for (int port : {21, 22, 23, 24}) serial.Reset(port);
        usb.Restart(usbtest::Lumo(0));
        MtaTest::TearDown();
    }
    // Runs `round` twice: the first pays for what a process sets up once, the
    // second must leave no handle or thread behind.
    void ExpectSecondRoundLeavesNothing(const std::function<void()>& round) {
        round();
        const ProcessResources before = MeasureProcess();
        round();
        const ProcessResources after = MeasureSettled(before.threads);
        const ResourceGrowth growth = after - before;
        EXPECT_LE(growth.handles, 1) << Describe(growth);
        EXPECT_LE(growth.threads, 0) << Describe(growth);
    }

public:  // the cases below steer the devices through these
    nulltest::Control serial;
    usbtest::Control usb;
};

ComPtr<IRs232Driver> OpenSerial(long port) { return OpenDriver(port); }

ComPtr<IUsbDriver> OpenLumo() {
    ComPtr<IUsbDriver> device = NewUsbDriver();
    VARIANT_BOOL opened = 0;
    EXPECT_TRUE(device && device->Open(etndevLumo, 0, &opened) == S_OK && opened == 1);
    return device;
}

ComPtr<IRs232DigitalIoDriver> OpenLines(const wchar_t* name, HRESULT expected = S_OK) {
    ComPtr<IRs232DigitalIoDriver> driver = CreateDriver();
    VARIANT_BOOL ok = 0;
    UniqueBstr text(::SysAllocString(name));
    EXPECT_EQ(driver->Open(text.get(), &ok), expected) << testing::PrintToString(std::wstring(name));
    return driver;
}

// A call blocked on a device that is pulled out: it ends with its failure within
// its bound; the object closes, and once the device is back it opens again and works.
// TearDown plugs everything back in, also after a case that stopped early.
struct UnplugCase {
    const char* what;
    std::function<void(FaultTest&)> run;  // opens, blocks, pulls the device, checks, reopens
};

TEST_F(FaultTest, CallsBlockedOnADeviceThatIsPulledOutEndAndTheObjectRecovers) {
    const UnplugCase cases[] = {
        {"Rs232Driver.Read",
         [](FaultTest& t) {
             ComPtr<IRs232Driver> port = OpenSerial(21);
             Variant got;
             Timed read = CallWhile([&] { return port->Read(1000, &got); }, [&] {
                 ::Sleep(150);
                 ASSERT_TRUE(t.serial.Plug(21, false));
             });
             EXPECT_EQ(read.hr, E_FAIL);
             EXPECT_LT(read.ms, 200 + 4 * 1000 + kSlackMs);
             EXPECT_EQ(got.vt, VT_EMPTY);
             EXPECT_EQ(WriteBytes(port.get(), {1, 2}), E_FAIL) << "the handle is dead";
             EXPECT_EQ(port->Close(), S_OK);
             VARIANT_BOOL ok = 1;
             EXPECT_EQ(port->Open(21, &ok), E_FAIL) << "no port while unplugged";
             EXPECT_EQ(ok, 0);
             ASSERT_TRUE(t.serial.Plug(21, true));
             ASSERT_EQ(port->Open(21, &ok), S_OK);
             ComPtr<IRs232Driver> peer = OpenSerial(22);
             EXPECT_EQ(WriteBytes(port.get(), {7, 8, 9}), S_OK);
             Variant back;
             EXPECT_EQ(peer->Read(3, &back), S_OK);
             EXPECT_EQ(HandedOut(back), (Bytes{7, 8, 9}));
         }},
        {"Rs232Driver.Write (paced)",
         [](FaultTest& t) {
             ComPtr<IRs232Driver> port = OpenSerial(21);
             ASSERT_TRUE(t.serial.Pace(21, true));
             ASSERT_EQ(port->put_BaudRate(1200), S_OK);  // 2000 bytes take 16 s at 1200 baud
             Timed write = CallWhile([&] { return WriteBytes(port.get(), Pattern(2000)); }, [&] {
                 ::Sleep(150);
                 ASSERT_TRUE(t.serial.Plug(21, false));
             });
             EXPECT_EQ(write.hr, E_FAIL);
             EXPECT_LT(write.ms, 200 + 4 * 2000 + kSlackMs);
             EXPECT_EQ(port->Close(), S_OK);
             ASSERT_TRUE(t.serial.Plug(21, true));
             ASSERT_TRUE(t.serial.Pace(21, false));
             VARIANT_BOOL ok = 0;
             ASSERT_EQ(port->Open(21, &ok), S_OK);
             EXPECT_EQ(WriteBytes(port.get(), {1}), S_OK);
         }},
        {"UsbDriver.ReadMainEndpoint",
         [](FaultTest& t) {
             ComPtr<IUsbDriver> device = OpenLumo();
             ByteArray buffer(std::vector<BYTE>(16, 0xEE));
             Timed read = CallWhile([&] { return device->ReadMainEndpoint(16, buffer.address()); }, [&] {
                 ::Sleep(150);
                 ASSERT_TRUE(t.usb.Plug(usbtest::Lumo(0), false).ok);
             });
             EXPECT_EQ(read.hr, E_FAIL);
             EXPECT_LT(read.ms, 150 + kSlackMs);
             EXPECT_EQ(buffer.Elements(), 16u);
             EXPECT_EQ(device->Close(), S_OK);
             VARIANT_BOOL opened = 1;
             EXPECT_EQ(device->Open(etndevLumo, 0, &opened), E_FAIL) << "no device while unplugged";
             EXPECT_EQ(opened, 0);
             ASSERT_TRUE(t.usb.Plug(usbtest::Lumo(0), true).ok);
             EXPECT_EQ(device->Open(etndevLumo, 0, &opened), S_OK);
             EXPECT_EQ(opened, 1);
             ByteArray bytes({4, 5});
             EXPECT_EQ(device->WriteMainEndpoint(2, bytes.address()), S_OK);
             EXPECT_EQ(device->ReadMainEndpoint(2, bytes.address()), S_OK);
         }},
        {"UsbDriver.VendorRequestRead (held by the device)",
         [](FaultTest& t) {
             ComPtr<IUsbDriver> device = OpenLumo();
             ASSERT_TRUE(t.usb.Delay(usbtest::Lumo(0), 20000).ok);
             Variant got;
             Timed read = CallWhile([&] { return device->VendorRequestRead(1, 0, 0, 4, &got); }, [&] {
                 ::Sleep(150);
                 ASSERT_TRUE(t.usb.Plug(usbtest::Lumo(0), false).ok);
             });
             EXPECT_EQ(read.hr, E_FAIL);
             EXPECT_LT(read.ms, 150 + kSlackMs) << "the held request ends with the device";
             EXPECT_EQ(device->Close(), S_OK);
             ASSERT_TRUE(t.usb.Plug(usbtest::Lumo(0), true).ok);
             VARIANT_BOOL opened = 0;
             EXPECT_EQ(device->Open(etndevLumo, 0, &opened), S_OK);
             Variant again;
             EXPECT_EQ(device->VendorRequestRead(1, 0, 0, 4, &again), S_OK);
         }},
        {"Rs232DigitalIoDriver monitor waiting",
         [](FaultTest& t) {
             ComPtr<IRs232DigitalIoDriver> driver = OpenLines(L"\\\\.\\COM23");
             ComPtr<EventSink> sink = EventSink::Create();
             ASSERT_NE(Connect(driver.get(), sink.get()), 0u);
             ::Sleep(150);
             ASSERT_TRUE(t.serial.Plug(23, false));
             ::Sleep(1000);
             const double cpu = ProcessCpuMs();
             ::Sleep(1000);
             EXPECT_LT(ProcessCpuMs() - cpu, 100.0) << "a monitor on a pulled port spins";
             long level = 7;
             EXPECT_EQ(driver->GetCTS(&level), S_OK);
             EXPECT_EQ(level, 0);
             Stopwatch close;
             EXPECT_EQ(driver->Close(), S_OK);
             EXPECT_LT(close.Ms(), kSlackMs);
             ASSERT_TRUE(t.serial.Plug(23, true));
             VARIANT_BOOL ok = 0;
             UniqueBstr name(::SysAllocString(L"\\\\.\\COM23"));
             ASSERT_EQ(driver->Open(name.get(), &ok), S_OK);
             sink->Take();
             ASSERT_TRUE(WaitUntil([&] { return t.serial.State(23).waits_pending == 1; }, 5000))
                 << "the monitor waits on the new handle";
             nulltest::Handle peer = nulltest::OpenSync(24);  // raises our CTS, DSR and DCD
             EXPECT_TRUE(sink->WaitFor(2, 5000)) << "events flow again after the replug";
         }},
    };
    ExpectSecondRoundLeavesNothing([&] {
        for (const UnplugCase& c : cases) {
            SCOPED_TRACE(c.what);
            c.run(*this);
            for (int port : {21, 23}) serial.Plug(port, true);
            usb.Plug(usbtest::Lumo(0), true);
        }
    });
}

// Requests the device fails: the documented failure, and the next call works.
TEST_F(FaultTest, FailedRequestsAnswerTheirFailureAndTheNextCallWorks) {
    ComPtr<IRs232Driver> port = OpenSerial(21), peer = OpenSerial(22);
    ComPtr<IUsbDriver> device = OpenLumo();
    ComPtr<IRs232DigitalIoDriver> lines = OpenLines(L"\\\\.\\COM23");
    struct Row {
        const char* what;
        std::function<void()> arm;
        std::function<HRESULT()> call;
        HRESULT failure;
    };
    Variant got;
    ByteArray bytes({1, 2, 3});
    long key = 0, level = 0;
    const Row rows[] = {
        {"Rs232Driver.Write", [&] { serial.FailNext(21, TARN_NULLMODEM_REQ_WRITE, 1); },
         [&] { return WriteBytes(port.get(), {1}); }, E_FAIL},
        {"Rs232Driver.Read", [&] { serial.FailNext(22, TARN_NULLMODEM_REQ_READ, 1); },
         [&] {
             ::VariantClear(&got);
             WriteBytes(port.get(), {1});
             return peer->Read(1, &got);
         },
         E_FAIL},
        {"Rs232Driver.ReadAvailableBytes", [&] { serial.FailNext(22, TARN_NULLMODEM_REQ_SET_TIMEOUTS, 1); },
         [&] {
             ::VariantClear(&got);
             return peer->ReadAvailableBytes(&got);
         },
         E_FAIL},
        {"Rs232DigitalIoDriver.SetDTR", [&] { serial.FailNext(23, TARN_NULLMODEM_REQ_SET_DTR, 1); },
         [&] { return lines->SetDTR(1); }, S_OK},
        {"Rs232DigitalIoDriver.GetCTS", [&] { serial.FailNext(23, TARN_NULLMODEM_REQ_GET_MODEMSTATUS, 1); },
         [&] { return lines->GetCTS(&level); }, S_OK},
        {"UsbDriver.VendorRequestWrite", [&] { usb.Fail(usbtest::Lumo(0), TARN_USB_VENDOR_WRITE, 1); },
         [&] {
             Variant a;
             a.vt = VT_ARRAY | VT_UI1;
             a.parray = bytes.get();
             const HRESULT hr = device->VendorRequestWrite(2, 0, 0, a);
             a.vt = VT_EMPTY;
             return hr;
         },
         S_OK},  // a vendor write counts as done once sent
        {"UsbDriver.VendorRequestRead", [&] { usb.Fail(usbtest::Lumo(0), TARN_USB_VENDOR_READ, 1); },
         [&] {
             ::VariantClear(&got);
             return device->VendorRequestRead(2, 0, 0, 3, &got);
         },
         E_FAIL},
        {"UsbDriver.WriteMainEndpoint", [&] { usb.Fail(usbtest::Lumo(0), TARN_USB_BULK_WRITE, 1); },
         [&] { return device->WriteMainEndpoint(3, bytes.address()); }, E_FAIL},
        {"UsbDriver.LockDevice", [&] { usb.Fail(usbtest::Lumo(0), TARN_USB_LOCK, 1); },
         [&] { return device->LockDevice(etnltOrsa, &key); }, E_FAIL},
    };
    ExpectSecondRoundLeavesNothing([&] {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.what);
            row.arm();
            Stopwatch clock;
            EXPECT_EQ(row.call(), row.failure);
            EXPECT_LT(clock.Ms(), 1240 + kSlackMs);
            TakeErrorInfo();
            EXPECT_EQ(row.call(), S_OK) << "the fault was for one request only";
            TakeErrorInfo();
        }
        if (key) device->UnlockDevice(etnltOrsa, key);
        key = 0;
        ::VariantClear(&got);
    });
}

// Names that open but are no serial port: the object opens or refuses as the
// system decides, its monitor stays idle, and close and destruction are prompt.
TEST_F(FaultTest, LineDriverOnNamesThatAreNoSerialPort) {
    wchar_t folder[MAX_PATH], file[MAX_PATH];
    ASSERT_NE(::GetTempPathW(MAX_PATH, folder), 0u);
    ASSERT_NE(::GetTempFileNameW(folder, L"trn", 0, file), 0u);
    const std::wstring pipeName = L"\\\\.\\pipe\\tarn-faults-" + std::to_wstring(::GetCurrentProcessId());
    nulltest::Handle pipe(::CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                             PIPE_TYPE_BYTE, 4, 512, 512, 0, nullptr));
    ASSERT_TRUE(pipe.valid());
    ExpectSecondRoundLeavesNothing([&] {
        for (const std::wstring& name : {std::wstring(L"NUL"), std::wstring(file), pipeName}) {
            SCOPED_TRACE(testing::PrintToString(name));
            ComPtr<IRs232DigitalIoDriver> driver = CreateDriver();
            ComPtr<EventSink> sink = EventSink::Create();
            ASSERT_NE(Connect(driver.get(), sink.get()), 0u);
            // It opens, or (a pipe whose one instance is taken) fails as a missing port does.
            VARIANT_BOOL ok = 42;
            UniqueBstr text(::SysAllocString(name.c_str()));
            const HRESULT opened = driver->Open(text.get(), &ok);
            EXPECT_TRUE((opened == S_OK && ok == 1) || (opened == DISP_E_EXCEPTION && ok == 42)) << std::hex << opened;
            if (name != pipeName) EXPECT_EQ(opened, S_OK);
            TakeErrorInfo();
            ::Sleep(1500);  // past any back-off's climb
            const double cpu = ProcessCpuMs();
            ::Sleep(1000);
            EXPECT_LT(ProcessCpuMs() - cpu, 100.0) << "the monitor spins";
            long level = 7;
            driver->GetCTS(&level);
            TakeErrorInfo();
            Stopwatch close;
            EXPECT_EQ(driver->Close(), S_OK);
            EXPECT_LT(close.Ms(), 1000.0);
            Stopwatch destroy;
            sink.reset();
            driver.reset();
            EXPECT_LT(destroy.Ms(), 1000.0);
            // The name is free again: nothing of the object holds it.
            if (name == file) {
                nulltest::Handle again(::CreateFileW(file, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
                EXPECT_TRUE(again.valid());
            }
        }
    });
    ::DeleteFileW(file);
}

}  // namespace
}  // namespace tarn::test
