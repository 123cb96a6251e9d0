// The object with no port open: what every method answers, through the vtable
// and by name as scripts call, and the monitor thread's life without a port.
#include "common/com_test_support.h"
#include "digitalio/event_sink.h"

namespace tarn::test {
namespace {

constexpr wchar_t kSource[] = L"TarnDriver.Rs232DigitalIoDriver.1";

// A client in the multithreaded apartment calls the object itself; from a
// single-threaded one it calls through a proxy, which refuses null out-pointers
// itself and always writes [out] values back.
template <DWORD Apartment>
class ClosedPortFixture : public ApartmentTest<Apartment> {
protected:
    void SetUp() override {
        ApartmentTest<Apartment>::SetUp();
        if (this->HasFatalFailure()) return;
        driver = CreateDriver();
        ASSERT_TRUE(driver);
    }
    void TearDown() override {
        driver.reset();
        ApartmentTest<Apartment>::TearDown();
    }
    void ExpectNotOpen(HRESULT hr, const char* what) {
        SCOPED_TRACE(what);
        EXPECT_EQ(DISP_E_EXCEPTION, hr);
        ErrorRecord error = TakeErrorInfo();
        EXPECT_TRUE(error.present);
        EXPECT_EQ(L"Device not open", error.description);
        EXPECT_EQ(kSource, error.source);
        EXPECT_TRUE(error.iid == GUID_NULL);
    }
    ComPtr<IRs232DigitalIoDriver> driver;
};
using ClosedPortTest = ClosedPortFixture<COINIT_MULTITHREADED>;
using ClosedPortScriptTest = ClosedPortFixture<COINIT_APARTMENTTHREADED>;

TEST_F(ClosedPortTest, LineMethodsReportDeviceNotOpen) {
    long value = 123;
    ExpectNotOpen(driver->SetDTR(1), "SetDTR");
    ExpectNotOpen(driver->GetDTR(&value), "GetDTR");
    ExpectNotOpen(driver->SetRTS(1), "SetRTS");
    ExpectNotOpen(driver->GetRTS(&value), "GetRTS");
    ExpectNotOpen(driver->GetDSR(&value), "GetDSR");
    ExpectNotOpen(driver->GetCTS(&value), "GetCTS");
    ExpectNotOpen(driver->SetBreak(1), "SetBreak");
    ExpectNotOpen(driver->GetRI(&value), "GetRI");
    ExpectNotOpen(driver->GetDCD(&value), "GetDCD");
    ExpectNotOpen(driver->get_DebounceTime(&value), "get_DebounceTime");
    ExpectNotOpen(driver->put_DebounceTime(10), "put_DebounceTime");
    ExpectNotOpen(driver->put_DebounceTime(-1), "put_DebounceTime negative");
    EXPECT_EQ(123, value);
}

TEST_F(ClosedPortTest, NullPointersComeBeforeTheOpenCheck) {
    ::SetErrorInfo(0, nullptr);
    EXPECT_EQ(E_POINTER, driver->GetDTR(nullptr));
    EXPECT_EQ(E_POINTER, driver->GetRTS(nullptr));
    EXPECT_EQ(E_POINTER, driver->GetDSR(nullptr));
    EXPECT_EQ(E_POINTER, driver->GetCTS(nullptr));
    EXPECT_EQ(E_POINTER, driver->GetRI(nullptr));
    EXPECT_EQ(E_POINTER, driver->GetDCD(nullptr));
    EXPECT_EQ(E_POINTER, driver->get_DebounceTime(nullptr));
    EXPECT_EQ(E_POINTER, driver->get_PortName(nullptr));
    EXPECT_EQ(E_POINTER, driver->get_PortNumber(nullptr));
    BSTR name = ::SysAllocString(L"COM21");
    EXPECT_EQ(E_POINTER, driver->Open(name, nullptr));
    ::SysFreeString(name);
    EXPECT_FALSE(TakeErrorInfo().present);
}

TEST_F(ClosedPortTest, NameAndNumberBeforeAnyOpen) {
    BSTR name = nullptr;
    ASSERT_EQ(S_OK, driver->get_PortName(&name));
    ASSERT_NE(nullptr, name);
    EXPECT_EQ(0u, ::SysStringLen(name));
    ::SysFreeString(name);
    long number = -5;
    EXPECT_EQ(S_OK, driver->get_PortNumber(&number));
    EXPECT_EQ(0, number);
    EXPECT_EQ(S_OK, driver->Close());
    EXPECT_EQ(S_OK, driver->Close());
}

TEST_F(ClosedPortTest, OpenOfAMissingPortFailsAndLeavesTheFlag) {
    // A null BSTR is COM's empty string.
    for (const wchar_t* missing : {L"COM199", L"", L"\\\\.\\NoSuchPortHere", static_cast<const wchar_t*>(nullptr)}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(missing ? missing : L"(null)")));
        BSTR name = ::SysAllocString(missing);
        VARIANT_BOOL success = 42;
        EXPECT_EQ(DISP_E_EXCEPTION, driver->Open(name, &success));
        ::SysFreeString(name);
        EXPECT_EQ(42, success);
        ErrorRecord error = TakeErrorInfo();
        EXPECT_EQ(L"Cannot open port", error.description);
        EXPECT_EQ(kSource, error.source);
        long value = 0;
        EXPECT_EQ(DISP_E_EXCEPTION, driver->GetDTR(&value));  // still not open
        TakeErrorInfo();
    }
}

TEST_F(ClosedPortScriptTest, LateBoundCallsCarryTheMessage) {
    ComPtr<IDispatch> dispatch;
    ASSERT_HRESULT_SUCCEEDED(driver->QueryInterface(IID_IDispatch, dispatch.put_void()));
    Variant result;
    CallResult outcome;
    CallByName(dispatch.get(), L"GetCTS", DISPATCH_METHOD, {}, &result, outcome);
    EXPECT_EQ(DISP_E_EXCEPTION, outcome.hr);
    EXPECT_EQ(L"Device not open", outcome.Description());
    EXPECT_EQ(kSource, outcome.Source());

    CallResult put;
    CallByName(dispatch.get(), L"DebounceTime", DISPATCH_PROPERTYPUT, {Long(5)}, nullptr, put);
    EXPECT_EQ(DISP_E_EXCEPTION, put.hr);

    Variant number;
    CallResult get;
    CallByName(dispatch.get(), L"PortNumber", DISPATCH_PROPERTYGET, {}, &number, get);
    EXPECT_EQ(S_OK, get.hr);
    EXPECT_EQ(VT_I4, number.vt);
    EXPECT_EQ(0, number.lVal);
}

// The monitor thread: one per object, parked (no processor time) while no port
// is open, and gone promptly once the object is released.
using MonitorLifeTest = MtaTest;

TEST_F(MonitorLifeTest, EachObjectHasOneThreadThatEndsPromptlyWithIt) {
    ComPtr<IRs232DigitalIoDriver> warmUp = CreateDriver();  // loads the module and its run time
    ASSERT_TRUE(warmUp);
    warmUp.reset();
    ::Sleep(200);
    const size_t before = ThreadCount();
    std::vector<ComPtr<IRs232DigitalIoDriver>> drivers;
    for (int i = 0; i < 4; ++i) drivers.push_back(CreateDriver());
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == before + 4; }, 5000)) << ThreadCount() - before;
    const LONGLONG start = Now();
    drivers.clear();
    const double releaseMs = TicksToMs(Now() - start);
    EXPECT_LT(releaseMs, 2000.0);  // a parked monitor sees the stop at once
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == before; }, 5000)) << ThreadCount() - before;
}

TEST_F(MonitorLifeTest, ParkedMonitorsUseNoProcessorTime) {
    std::vector<ComPtr<IRs232DigitalIoDriver>> drivers;
    for (int i = 0; i < 8; ++i) drivers.push_back(CreateDriver());
    ::Sleep(100);
    const double cpuBefore = ProcessCpuMs();
    ::Sleep(1000);
    const double used = ProcessCpuMs() - cpuBefore;
    EXPECT_LT(used, 100.0) << "8 parked monitors used " << used << " ms in 1 s";
}

TEST_F(MonitorLifeTest, ReleasingAnObjectRightAfterCreationDoesNotHang) {
    // The stop can come before the new thread has even parked.
    const LONGLONG start = Now();
    for (int i = 0; i < 50; ++i) CreateDriver();
    EXPECT_LT(TicksToMs(Now() - start), 20000.0);
}

}  // namespace
}  // namespace tarn::test
