// Opening, closing and the lines, with the stand-in's peer port and control
// device as the other end of the cable.
#include "digitalio/port_fixture.h"

namespace tarn::test {
namespace {

using LinesTest = PortTest;

TEST_F(LinesTest, OpenConfiguresThePortClearsTheOutputsAndGreetsTheSinksFirst) {
    ComPtr<EventSink> s1 = EventSink::Create(), s2 = EventSink::Create();
    std::vector<int> order;
    s1->onEvent = [&](const Event&) { order.push_back(1); };
    s2->onEvent = [&](const Event&) { order.push_back(2); };
    ASSERT_NE(0u, Connect(driver.get(), s1.get()));
    ASSERT_NE(0u, Connect(driver.get(), s2.get()));

    VARIANT_BOOL ok = 0;
    ASSERT_EQ(S_OK, driver->Open(PortName(kOurPort).get(), &ok));
    EXPECT_EQ(1, ok);  // 1, not VARIANT_TRUE
    // Delivered on this thread before Open returned.
    ASSERT_EQ(1u, s1->Count());
    ASSERT_EQ(1u, s2->Count());
    const Event greeting = s1->Events()[0];
    EXPECT_EQ(kOnText, greeting.id);
    EXPECT_EQ(VT_BSTR, greeting.type);
    EXPECT_EQ(L"Tach auch", greeting.text);
    EXPECT_EQ(::GetCurrentThreadId(), greeting.thread);
    EXPECT_EQ((std::vector<int>{1, 2}), order);
    EXPECT_FALSE(s1->BadCall());

    const TarnNullModemPortState state = control.State(kOurPort);
    EXPECT_EQ(1u, state.is_open);
    EXPECT_EQ(8192u, state.baud_rate);
    EXPECT_EQ(0u, state.dtr);  // a fresh open raises them; Open clears them
    EXPECT_EQ(0u, state.rts);
    EXPECT_EQ(0u, state.break_on);

    BSTR name = nullptr;
    ASSERT_EQ(S_OK, driver->get_PortName(&name));
    EXPECT_EQ(PortPath(kOurPort), name);
    ::SysFreeString(name);
    long value = -1;
    EXPECT_EQ(S_OK, driver->get_PortNumber(&value));
    EXPECT_EQ(0, value);  // a device path does not begin with COM
    EXPECT_EQ(S_OK, driver->GetDTR(&value));
    EXPECT_EQ(0, value);
    EXPECT_EQ(S_OK, driver->GetRTS(&value));
    EXPECT_EQ(0, value);
}

// The name goes to the system unchanged: a name that is not a device is a
// file, which lets the number parsing be seen with names of every shape.
TEST_F(LinesTest, PortNumberParsesOnlyCapitalCom) {
    wchar_t folder[MAX_PATH], previous[MAX_PATH];
    ::GetTempPathW(MAX_PATH, folder);
    wcscat_s(folder, L"tarn_digitalio_names");
    ::CreateDirectoryW(folder, nullptr);
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(folder));
    struct Case {
        const wchar_t* name;
        long number;
    };
    for (const Case& c : {Case{L"COM42", 42}, Case{L"COM 12", 12}, Case{L"COM-3", -3}, Case{L"com42", 0},
                          Case{L"xCOM42", 0}, Case{L"COMx", 0}}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
        ::CloseHandle(::CreateFileW(c.name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        UniqueBstr name(::SysAllocString(c.name));
        VARIANT_BOOL ok = 0;
        ASSERT_EQ(S_OK, driver->Open(name.get(), &ok));
        long number = -1;
        EXPECT_EQ(S_OK, driver->get_PortNumber(&number));
        EXPECT_EQ(c.number, number);
        BSTR stored = nullptr;
        driver->get_PortName(&stored);
        EXPECT_STREQ(c.name, stored);
        ::SysFreeString(stored);
        EXPECT_EQ(S_OK, driver->Close());
        ::DeleteFileW(c.name);
    }
    ::SetCurrentDirectoryW(previous);
    ::RemoveDirectoryW(folder);

    UniqueBstr lower(::SysAllocString(L"\\\\.\\com21"));
    VARIANT_BOOL ok = 0;
    ASSERT_EQ(S_OK, driver->Open(lower.get(), &ok));
    long number = -1;
    EXPECT_EQ(S_OK, driver->get_PortNumber(&number));
    EXPECT_EQ(0, number);
}

// Users write the name they see ("COM21"), yet ports above COM9 open only
// through the device namespace: a name COM<digits> that does not open as
// written is tried there.  Every other name goes to the system unchanged, and
// the stored name is always the one written.
TEST_F(LinesTest, PortNamesOpenAsUsersWriteThem) {
    struct Case {
        const wchar_t* name;
        bool opens;
        long number;  // PortNumber once open
    };
    for (const Case& c : {Case{L"COM21", true, 21}, Case{L"com21", true, 0}, Case{L"Com21", true, 0},
                          Case{L"\\\\.\\COM21", true, 0}, Case{L"NUL", true, 0}, Case{L"COM21x", false},
                          Case{L"COM", false}, Case{L"COM 21", false}, Case{L"COM+21", false},
                          Case{L"COM199", false}, Case{L"\\\\.\\COM", false}}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
        UniqueBstr name(::SysAllocString(c.name));
        VARIANT_BOOL ok = 0;
        const HRESULT hr = driver->Open(name.get(), &ok);
        if (!c.opens) {
            EXPECT_EQ(DISP_E_EXCEPTION, hr);
            EXPECT_EQ(L"Cannot open port", TakeErrorInfo().description);
            EXPECT_EQ(0u, control.State(kOurPort).is_open);
            continue;
        }
        ASSERT_EQ(S_OK, hr);
        EXPECT_EQ(1, ok);
        BSTR stored = nullptr;
        EXPECT_EQ(S_OK, driver->get_PortName(&stored));
        EXPECT_STREQ(c.name, stored);
        ::SysFreeString(stored);
        long number = -1;
        EXPECT_EQ(S_OK, driver->get_PortNumber(&number));
        EXPECT_EQ(c.number, number);
        if (c.name[0] != L'N') EXPECT_EQ(1u, control.State(kOurPort).is_open);
        EXPECT_EQ(S_OK, driver->Close());
        EXPECT_TRUE(PortClosed(kOurPort));
    }
}

TEST_F(LinesTest, OutputsDriveThePeerAndKeepTheValuePassed) {
    ASSERT_TRUE(Open());
    Peer peer(kPeerPort);
    ASSERT_TRUE(peer.valid());
    long value = 0;

    EXPECT_EQ(S_OK, driver->SetDTR(5));
    EXPECT_EQ(1u, control.State(kOurPort).dtr);
    EXPECT_EQ(MS_DSR_ON | MS_RLSD_ON, control.State(kPeerPort).modem_status & (MS_DSR_ON | MS_RLSD_ON));
    EXPECT_EQ(S_OK, driver->GetDTR(&value));
    EXPECT_EQ(5, value);
    EXPECT_EQ(S_OK, driver->SetDTR(0));
    EXPECT_EQ(0u, control.State(kOurPort).dtr);
    EXPECT_EQ(S_OK, driver->SetDTR(-1));
    EXPECT_EQ(1u, control.State(kOurPort).dtr);
    EXPECT_EQ(S_OK, driver->GetDTR(&value));
    EXPECT_EQ(-1, value);

    EXPECT_EQ(S_OK, driver->SetRTS(7));
    EXPECT_EQ(1u, control.State(kOurPort).rts);
    EXPECT_EQ(static_cast<uint32_t>(MS_CTS_ON), control.State(kPeerPort).modem_status & MS_CTS_ON);
    EXPECT_EQ(S_OK, driver->GetRTS(&value));
    EXPECT_EQ(7, value);
    EXPECT_EQ(S_OK, driver->SetRTS(0));
    EXPECT_EQ(0u, control.State(kOurPort).rts);

    EXPECT_EQ(S_OK, driver->SetBreak(1));
    EXPECT_EQ(1u, control.State(kOurPort).break_on);
    EXPECT_EQ(S_OK, driver->SetBreak(0));
    EXPECT_EQ(0u, control.State(kOurPort).break_on);
}

TEST_F(LinesTest, InputsReadThePeerAndTheControlDevice) {
    ASSERT_TRUE(Open());
    long dsr = -1, cts = -1, ri = -1, dcd = -1;
    auto read = [&] {
        ASSERT_EQ(S_OK, driver->GetDSR(&dsr));
        ASSERT_EQ(S_OK, driver->GetCTS(&cts));
        ASSERT_EQ(S_OK, driver->GetRI(&ri));
        ASSERT_EQ(S_OK, driver->GetDCD(&dcd));
    };
    read();
    EXPECT_EQ((std::vector<long>{0, 0, 0, 0}), (std::vector<long>{dsr, cts, ri, dcd}));  // nothing on the far end
    Peer peer(kPeerPort);  // raises DTR and RTS
    read();
    EXPECT_EQ((std::vector<long>{1, 1, 0, 1}), (std::vector<long>{dsr, cts, ri, dcd}));
    peer.Dtr(false);
    read();
    EXPECT_EQ((std::vector<long>{0, 1, 0, 0}), (std::vector<long>{dsr, cts, ri, dcd}));
    ASSERT_TRUE(control.SetLine(kOurPort, TARN_NULLMODEM_LINE_RI, TARN_NULLMODEM_LINE_FORCED_ON));
    peer.Rts(false);
    read();
    EXPECT_EQ((std::vector<long>{0, 0, 1, 0}), (std::vector<long>{dsr, cts, ri, dcd}));
}

TEST_F(LinesTest, FailedStatusReadsGiveZeroAndFailedEscapesStillStoreTheValue) {
    Peer peer(kPeerPort);  // first, so no line changes while the faults wait for our reads
    ASSERT_TRUE(Open());
    ::Sleep(100);
    ASSERT_TRUE(control.FailNext(kOurPort, TARN_NULLMODEM_REQ_GET_MODEMSTATUS, 4));
    long value = -1;
    for (auto get : {&IRs232DigitalIoDriver::GetDSR, &IRs232DigitalIoDriver::GetCTS, &IRs232DigitalIoDriver::GetRI,
                     &IRs232DigitalIoDriver::GetDCD}) {
        value = -1;
        EXPECT_EQ(S_OK, (driver.get()->*get)(&value));
        EXPECT_EQ(0, value);
    }
    EXPECT_EQ(S_OK, driver->GetCTS(&value));  // the faults are used up: the line is high
    EXPECT_EQ(1, value);

    ASSERT_TRUE(control.FailNext(kOurPort, TARN_NULLMODEM_REQ_ANY_ESCAPE, 1));
    EXPECT_EQ(S_OK, driver->SetDTR(3));
    EXPECT_EQ(0u, control.State(kOurPort).dtr);
    EXPECT_EQ(S_OK, driver->GetDTR(&value));
    EXPECT_EQ(3, value);
}

TEST_F(LinesTest, AFailedConfigurationStillOpens) {
    ASSERT_TRUE(control.FailNext(kOurPort, TARN_NULLMODEM_REQ_GET_BAUD_RATE, 1));
    ASSERT_TRUE(Open());
    EXPECT_NE(8192u, control.State(kOurPort).baud_rate);  // SetCommState was skipped
}

TEST_F(LinesTest, DebounceTimeRefusesNegativesAndSurvivesReopening) {
    ASSERT_TRUE(Open());
    long value = -1;
    EXPECT_EQ(S_OK, driver->get_DebounceTime(&value));
    EXPECT_EQ(0, value);
    EXPECT_EQ(S_OK, driver->put_DebounceTime(50));
    ::SetErrorInfo(0, nullptr);
    EXPECT_EQ(E_INVALIDARG, driver->put_DebounceTime(-1));
    EXPECT_FALSE(TakeErrorInfo().present);
    EXPECT_EQ(S_OK, driver->Close());
    ASSERT_TRUE(Open());
    EXPECT_EQ(S_OK, driver->get_DebounceTime(&value));
    EXPECT_EQ(50, value);
    EXPECT_EQ(S_OK, driver->put_DebounceTime(0));
}

TEST_F(LinesTest, CloseReleasesThePortAndKeepsTheSinks) {
    ComPtr<EventSink> sink = EventSink::Create();
    ASSERT_NE(0u, Connect(driver.get(), sink.get()));
    ASSERT_TRUE(Open());
    EXPECT_EQ(S_OK, driver->Close());
    EXPECT_TRUE(PortClosed(kOurPort));
    BSTR name = nullptr;
    ASSERT_EQ(S_OK, driver->get_PortName(&name));
    EXPECT_EQ(0u, ::SysStringLen(name));
    ::SysFreeString(name);
    long value = 0;
    EXPECT_EQ(DISP_E_EXCEPTION, driver->GetCTS(&value));
    EXPECT_EQ(S_OK, driver->Close());
    ASSERT_TRUE(Open());  // the same port again, and the sink is still connected
    EXPECT_EQ(2u, Only(sink->Events(), kOnText).size());
}

TEST_F(LinesTest, OpenWhileOpenLetsGoOfThePortItHeld) {
    ASSERT_TRUE(Open(kOurPort));
    ASSERT_TRUE(Open(kOurPort));  // reopening the same port gives a working handle
    EXPECT_EQ(S_OK, driver->SetDTR(1));
    EXPECT_EQ(1u, control.State(kOurPort).dtr);
    ASSERT_TRUE(Open(kOtherPort));
    EXPECT_TRUE(PortClosed(kOurPort));
    EXPECT_EQ(1u, control.State(kOtherPort).is_open);
    BSTR name = nullptr;
    driver->get_PortName(&name);
    EXPECT_EQ(PortPath(kOtherPort), name);
    ::SysFreeString(name);
}

TEST_F(LinesTest, ReleasingAnOpenObjectClosesItsPortPromptly) {
    ASSERT_TRUE(Open());
    const LONGLONG start = Now();
    driver.reset();
    const double ms = TicksToMs(Now() - start);
    EXPECT_LT(ms, 2000.0);  // the pending line-event wait ends at once, not at a 60 s bound
    EXPECT_TRUE(PortClosed(kOurPort));
}

}  // namespace
}  // namespace tarn::test
