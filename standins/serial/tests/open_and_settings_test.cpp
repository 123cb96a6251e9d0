// Opening a port: one handle at a time, defaults, the settings requests the
// byte driver makes, and the port map.
#include "nullmodem_test_support.h"

using namespace nulltest;

namespace {

class OpenTest : public NullModemTest {};

TEST_F(OpenTest, SecondHandleOfAnOpenPortIsRefused) {
    Handle first = OpenSync(kPortA);
    ASSERT_TRUE(first.valid());
    Handle second = OpenSync(kPortA);
    // Wine hands out the handle before the driver has seen the open; the driver
    // then refuses every request on it, so a client's first setup call fails.
    if (second.valid()) {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        EXPECT_FALSE(GetCommState(second.get(), &dcb));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_FALSE(SetupComm(second.get(), 4096, 4096));
        EXPECT_FALSE(WriteAll(second.get(), "x"));
    } else {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    // the first handle is unaffected
    EXPECT_TRUE(SetupComm(first.get(), 4096, 4096));
    EXPECT_EQ(control.State(kPortA).is_open, 1u);

    second.reset();  // closing the refused handle does not close the port
    EXPECT_TRUE(SetupComm(first.get(), 4096, 4096));
    first.reset();
    Handle again = OpenSync(kPortA);
    ASSERT_TRUE(again.valid());
    EXPECT_TRUE(SetupComm(again.get(), 4096, 4096));
}

// The "is the port free?" probe: open, close with no request, open again at
// once.  The close of the probe can reach the driver after the new open; the
// new handle must still own the port, every time.
TEST_F(OpenTest, ReopenRightAfterAnUnusedCloseIsNeverRefused) {
    Handle watcher = OpenSync(kPortB);
    ASSERT_TRUE(watcher.valid());
    int refused = 0;
    for (int i = 0; i < 1000; i++) {
        {
            // both ways of opening: synchronous (the byte driver) and overlapped (the line driver)
            auto open = i % 2 ? &OpenSync : &OpenLines;
            Handle probe = open(kPortA);
            ASSERT_TRUE(probe.valid()) << "try " << i;
            probe.reset();
            Handle port = open(kPortA);
            ASSERT_TRUE(port.valid()) << "try " << i;
            DCB dcb{};
            dcb.DCBlength = sizeof dcb;
            if (!GetCommState(port.get(), &dcb)) {
                ADD_FAILURE() << "try " << i << ": error " << GetLastError();
                if (++refused > 5) return;
                continue;
            }
            EXPECT_EQ(dcb.BaudRate, 9600u);
            ASSERT_EQ(ModemStatus(watcher.get()) & MS_CTS_ON, static_cast<DWORD>(MS_CTS_ON)) << "try " << i;
        }
    }
}

// A second open while the first handle is open but idle: its requests are
// refused as soon as the first handle shows it is in use, well within the grace
// a close on its way is given.
TEST_F(OpenTest, SecondOpenOfAnIdleHandleIsRefusedOnceTheFirstIsUsed) {
    Handle first = OpenSync(kPortA);
    ASSERT_TRUE(first.valid());
    Handle second = OpenOverlapped(kPortA);
    ASSERT_TRUE(second.valid());
    Overlapped wait;
    DWORD mask = 0;
    bool pending = !WaitCommEvent(second.get(), &mask, wait.get()) && GetLastError() == ERROR_IO_PENDING;
    Stopwatch clock;
    EXPECT_TRUE(SetupComm(first.get(), 4096, 4096));
    if (pending) {
        ASSERT_TRUE(wait.WaitDone(5000));
        DWORD error = 0;
        EXPECT_FALSE(wait.Result(second.get(), nullptr, &error));
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    EXPECT_FALSE(GetCommState(second.get(), &dcb));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_LT(clock.Ms(), 2000.0) << "the refusal waited for the grace to run out";
    EXPECT_TRUE(GetCommState(first.get(), &dcb));
    EXPECT_EQ(control.State(kPortA).is_open, 1u);
}

TEST_F(OpenTest, LineHandleWithNoAccessAndOverlappedDrivesLines) {
    Handle lines = OpenLines(kPortB);
    ASSERT_TRUE(lines.valid());
    Handle peer = OpenSync(kPortA);
    ASSERT_TRUE(peer.valid());
    EXPECT_TRUE(EscapeCommFunction(lines.get(), CLRDTR));
    EXPECT_TRUE(EscapeCommFunction(lines.get(), CLRRTS));
    EXPECT_EQ(ModemStatus(peer.get()) & (MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON), 0u);
    EXPECT_TRUE(EscapeCommFunction(lines.get(), SETDTR));
    EXPECT_EQ(ModemStatus(peer.get()) & (MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON), static_cast<DWORD>(MS_DSR_ON | MS_RLSD_ON));
    EXPECT_TRUE(SetCommMask(lines.get(), 0x138));
    EXPECT_TRUE(SetCommMask(lines.get(), 0));
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    EXPECT_TRUE(GetCommState(lines.get(), &dcb));
}

TEST_F(OpenTest, FreshPortHasDefaultSettingsAndRaisesDtrAndRts) {
    Handle watcher = OpenSync(kPortB);
    ASSERT_TRUE(watcher.valid());
    EXPECT_EQ(ModemStatus(watcher.get()), 0u) << "nothing at the other end yet";
    Handle port = OpenSync(kPortA);
    ASSERT_TRUE(port.valid());
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port.get(), &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(ModemStatus(watcher.get()), static_cast<DWORD>(MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON));
    COMMTIMEOUTS t{1, 1, 1, 1, 1};
    ASSERT_TRUE(GetCommTimeouts(port.get(), &t));
    EXPECT_EQ(t.ReadIntervalTimeout + t.ReadTotalTimeoutMultiplier + t.ReadTotalTimeoutConstant +
                  t.WriteTotalTimeoutMultiplier + t.WriteTotalTimeoutConstant, 0u);
    port.reset();
    EXPECT_EQ(ModemStatus(watcher.get()), 0u) << "closing drops the lines";
}

TEST_F(OpenTest, ByteDriverSetupSequenceIsKept) {
    Handle watcher = OpenSync(kPortB);
    Handle port = OpenSync(kPortA);
    ASSERT_TRUE(port.valid());
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port.get(), &dcb));
    dcb.BaudRate = 19200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fParity = dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fOutX = dcb.fInX = dcb.fNull = dcb.fErrorChar = dcb.fAbortOnError = 0;
    ASSERT_TRUE(SetCommState(port.get(), &dcb));
    EXPECT_EQ(ModemStatus(watcher.get()), 0u) << "disabled DTR and RTS control lowers the lines";
    ASSERT_TRUE(SetupComm(port.get(), 4096, 4096));
    ASSERT_TRUE(SetTimeouts(port.get(), 0, 4, 200, 4, 200));

    DCB back{};
    back.DCBlength = sizeof back;
    ASSERT_TRUE(GetCommState(port.get(), &back));
    EXPECT_EQ(back.BaudRate, 19200u);
    EXPECT_EQ(back.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(back.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_EQ(back.fOutxCtsFlow, 0u);
    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(port.get(), &t));
    EXPECT_EQ(t.ReadIntervalTimeout, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 4u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 200u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 4u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 200u);
    COMMPROP props{};
    ASSERT_TRUE(GetCommProperties(port.get(), &props));
    EXPECT_EQ(props.dwCurrentRxQueue, 4096u);
    EXPECT_EQ(props.dwCurrentTxQueue, 4096u);
    EXPECT_EQ(control.State(kPortA).baud_rate, 19200u);

    // a later SetCommState with DTR control still disabled leaves an escaped DTR alone
    ASSERT_TRUE(EscapeCommFunction(port.get(), SETDTR));
    back.BaudRate = 9600;
    ASSERT_TRUE(SetCommState(port.get(), &back));
    EXPECT_EQ(ModemStatus(watcher.get()) & MS_DSR_ON, static_cast<DWORD>(MS_DSR_ON));
}

TEST_F(OpenTest, InvalidSettingsAreRefusedAndLeaveThePortAsItWas) {
    Handle port = OpenSync(kPortA);
    ASSERT_TRUE(port.valid());
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port.get(), &dcb));
    DCB bad = dcb;
    bad.BaudRate = 0;
    EXPECT_FALSE(SetCommState(port.get(), &bad));
    bad = dcb;
    bad.ByteSize = 9;
    EXPECT_FALSE(SetCommState(port.get(), &bad));
    COMMTIMEOUTS forbidden{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0};
    EXPECT_FALSE(SetCommTimeouts(port.get(), &forbidden));
    DCB back{};
    back.DCBlength = sizeof back;
    ASSERT_TRUE(GetCommState(port.get(), &back));
    EXPECT_EQ(back.BaudRate, 9600u);
    EXPECT_EQ(back.ByteSize, 8);
}

TEST_F(OpenTest, PortsAreListedInTheSerialPortMap) {
    std::vector<std::wstring> ports = PortMapNames();
    TarnNullModemInfo info{};
    ASSERT_TRUE(control.Info(&info));
    ASSERT_GE(info.port_count, 4u);
    for (uint32_t i = 0; i < info.port_count; i++) {
        std::wstring name = L"COM" + std::to_wstring(info.ports[i]);
        EXPECT_NE(std::find(ports.begin(), ports.end(), name), ports.end()) << "missing COM" << info.ports[i];
    }
    EXPECT_EQ(info.ports[0], 21u);
    EXPECT_EQ(info.ports[1], 22u);
}

}  // namespace
