// Rs232Driver on a wired pair of real ports: configuration read back through
// the driver's own handle, transfers, the timing rules and serialised calls.
// Built once per kind of port (SERIAL_PAIR below): Wine's serial stack over a
// pty pair, and the null-modem stand-in.
#include <atomic>
#include <thread>

#include "serial/serial_test_support.h"

#ifdef SERIAL_STANDIN
#include "serial/standin_support.h"
#define SERIAL_PAIR StandinPair()
#else
#define SERIAL_PAIR PtyPair()
#endif

namespace tarn::test {
namespace {

// Loose enough for a loaded machine, tight enough to tell the rules apart.
constexpr double kAtOnceMs = 180;      // a read that must not wait for the 200 ms constant
constexpr double kSlackMs = 2500;      // scheduling and Wine overhead above a time-out

class LinkedPortsTest : public MtaTest, public ::testing::WithParamInterface<PortPair> {
protected:
    void SetUp() override {
        MtaTest::SetUp();
#ifdef SERIAL_STANDIN
        ASSERT_NO_FATAL_FAILURE(ResetStandinPair(GetParam()));
#endif
        ClearErrorInfo();
    }
    long Near() const { return GetParam().near_; }
    long Far() const { return GetParam().far_; }
    bool IsStandin() const { return std::string(GetParam().kind) == "standin"; }
};

// Leaves the port misconfigured, so the driver has everything to put right.
void Misconfigure(long port) {
    wchar_t name[32];
    wsprintfW(name, L"\\\\.\\COM%ld", port);
    HANDLE handle = ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle) << "COM" << port << " is missing";
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(::GetCommState(handle, &dcb));
    dcb.BaudRate = 4800;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fParity = 1;
    dcb.fOutxCtsFlow = 1;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fOutX = 1;
    dcb.fInX = 1;
    ::SetCommState(handle, &dcb);
    COMMTIMEOUTS odd{1, 2, 3, 4, 5};
    ::SetCommTimeouts(handle, &odd);
    ::CloseHandle(handle);
}

TEST_P(LinkedPortsTest, OpenAppliesLineSettingsQueuesAndTimeouts) {
    Misconfigure(Near());
    ComPtr<IRs232Driver> driver = NewDriver();
    ASSERT_EQ(S_OK, driver->put_BaudRate(19200));
    VARIANT_BOOL ok = 0;
    ExpectUnreported(S_OK, driver->Open(Near(), &ok));
    EXPECT_EQ(1, ok);
    long number = 0;
    driver->get_PortNumber(&number);
    EXPECT_EQ(Near(), number);
    BSTR name = nullptr;
    driver->get_PortName(&name);
    EXPECT_EQ(L"COM" + std::to_wstring(Near()), std::wstring(name));
    ::SysFreeString(name);

    HANDLE port = TheCommHandle();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(::GetCommState(port, &dcb));
    EXPECT_EQ(19200u, dcb.BaudRate);
    EXPECT_EQ(8, dcb.ByteSize);
    EXPECT_EQ(NOPARITY, dcb.Parity);
    EXPECT_EQ(ONESTOPBIT, dcb.StopBits);
    EXPECT_EQ(1u, dcb.fBinary);
    EXPECT_EQ(0u, dcb.fParity);
    EXPECT_EQ(0u, dcb.fOutxCtsFlow);
    EXPECT_EQ(0u, dcb.fOutxDsrFlow);
    EXPECT_EQ(0u, dcb.fOutX);
    EXPECT_EQ(0u, dcb.fInX);
    EXPECT_EQ(0u, dcb.fNull);
    EXPECT_NE(static_cast<DWORD>(RTS_CONTROL_HANDSHAKE), dcb.fRtsControl);
    if (IsStandin()) {
        // Wine derives these two from the tty's modem lines, which a pty lacks.
        EXPECT_EQ(static_cast<DWORD>(DTR_CONTROL_DISABLE), dcb.fDtrControl);
        EXPECT_EQ(static_cast<DWORD>(RTS_CONTROL_DISABLE), dcb.fRtsControl);
    }

    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(::GetCommTimeouts(port, &timeouts));
    EXPECT_EQ(0u, timeouts.ReadIntervalTimeout);
    EXPECT_EQ(4u, timeouts.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(200u, timeouts.ReadTotalTimeoutConstant);
    EXPECT_EQ(4u, timeouts.WriteTotalTimeoutMultiplier);
    EXPECT_EQ(200u, timeouts.WriteTotalTimeoutConstant);

    COMMPROP properties{};
    ASSERT_TRUE(::GetCommProperties(port, &properties));
    EXPECT_EQ(4096u, properties.dwCurrentRxQueue);
    EXPECT_EQ(4096u, properties.dwCurrentTxQueue);
}

TEST_P(LinkedPortsTest, BaudRateWrittenWhileOpenAppliesAtOnce) {
    ComPtr<IRs232Driver> driver = OpenDriver(Near());
    HANDLE port = TheCommHandle();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(port, &dcb);
    EXPECT_EQ(9600u, dcb.BaudRate);

    EXPECT_EQ(S_OK, driver->put_BaudRate(57600));
    ::GetCommState(port, &dcb);
    EXPECT_EQ(57600u, dcb.BaudRate);
    EXPECT_EQ(8, dcb.ByteSize);

    // The property keeps what was written, whatever the port made of it.
    EXPECT_EQ(S_OK, driver->put_BaudRate(12345));
    long back = 0;
    driver->get_BaudRate(&back);
    EXPECT_EQ(12345, back);
}

TEST_P(LinkedPortsTest, TwoObjectsOnTheTwoEndsTalkBothWays) {
    ComPtr<IRs232Driver> a = OpenDriver(Near());
    ComPtr<IRs232Driver> b = OpenDriver(Far());
    Bytes every(256);
    for (int i = 0; i < 256; ++i) every[i] = static_cast<BYTE>(i);  // nulls and XON/XOFF included

    ExpectUnreported(S_OK, WriteBytes(a.get(), every));
    Variant got;
    ExpectUnreported(S_OK, b->Read(256, &got));
    EXPECT_EQ(every, HandedOut(got));

    const Bytes reply = Pattern(1000, 3);
    EXPECT_EQ(S_OK, WriteBytes(b.get(), reply));
    Variant back;
    EXPECT_EQ(S_OK, a->Read(1000, &back));
    EXPECT_EQ(reply, HandedOut(back));
}

TEST_P(LinkedPortsTest, ShortReadWaitsItsTimeOutAndDropsWhatCame) {
    ComPtr<IRs232Driver> reader = OpenDriver(Near());
    ComPtr<IRs232Driver> writer = OpenDriver(Far());

    Variant out;
    MarkUntouched(out);
    Stopwatch nothing;
    ExpectReported(E_FAIL, L"not all bytes received", reader->Read(10, &out));
    const double tenMs = nothing.Ms();
    EXPECT_GE(tenMs, 200.0);
    EXPECT_LT(tenMs, 240 + kSlackMs);
    EXPECT_TRUE(Untouched(out));

    // 4 ms per byte on top: 250 bytes wait 1.2 s.
    Stopwatch longer;
    ExpectReported(E_FAIL, L"not all bytes received", reader->Read(250, &out));
    const double longMs = longer.Ms();
    EXPECT_GE(longMs, 1100.0);
    EXPECT_LT(longMs, 1200 + kSlackMs);

    // Four of ten arrive: the call still fails, and the four are gone.
    EXPECT_EQ(S_OK, WriteBytes(writer.get(), {1, 2, 3, 4}));
    ::Sleep(100);
    Stopwatch partial;
    ExpectReported(E_FAIL, L"not all bytes received", reader->Read(10, &out));
    EXPECT_GE(partial.Ms(), 200.0);
    EXPECT_TRUE(Untouched(out));
    Variant rest;
    EXPECT_EQ(S_OK, reader->ReadAvailableBytes(&rest));
    EXPECT_TRUE(HandedOut(rest).empty());
}

TEST_P(LinkedPortsTest, ReadOfZeroReturnsAnEmptyArrayAtOnce) {
    ComPtr<IRs232Driver> reader = OpenDriver(Near());
    ComPtr<IRs232Driver> writer = OpenDriver(Far());
    EXPECT_EQ(S_OK, WriteBytes(writer.get(), {7, 8, 9}));
    ::Sleep(100);

    Variant empty;
    Stopwatch watch;
    ExpectUnreported(S_OK, reader->Read(0, &empty));
    EXPECT_LT(watch.Ms(), kAtOnceMs);
    EXPECT_TRUE(HandedOut(empty).empty());

    Variant three;
    EXPECT_EQ(S_OK, reader->Read(3, &three));
    EXPECT_EQ((Bytes{7, 8, 9}), HandedOut(three));
}

TEST_P(LinkedPortsTest, ReadAvailableBytesReturnsAtOnceAndRestoresTimeouts) {
    ComPtr<IRs232Driver> reader = OpenDriver(Near());
    ComPtr<IRs232Driver> writer = OpenDriver(Far());

    Variant none;
    Stopwatch quick;
    ExpectUnreported(S_OK, reader->ReadAvailableBytes(&none));
    EXPECT_LT(quick.Ms(), kAtOnceMs);
    EXPECT_TRUE(HandedOut(none).empty());

    const Bytes sent = Pattern(300, 9);
    EXPECT_EQ(S_OK, WriteBytes(writer.get(), sent));
    EXPECT_EQ(sent, Drain(reader.get(), sent.size()));

    // A Read afterwards waits its full time-out again.
    Variant out;
    Stopwatch full;
    EXPECT_EQ(E_FAIL, reader->Read(10, &out));
    EXPECT_GE(full.Ms(), 200.0);
    ClearErrorInfo();
}

TEST_P(LinkedPortsTest, ReadAvailableBytesDeliversAtMost4096AndKeepsTheRest) {
    ComPtr<IRs232Driver> reader = OpenDriver(Near());
    ComPtr<IRs232Driver> writer = OpenDriver(Far());
    const Bytes sent = Pattern(5000, 1);
    ASSERT_EQ(S_OK, WriteBytes(writer.get(), sent));
    ::Sleep(300);

    Variant first;
    ASSERT_EQ(S_OK, reader->ReadAvailableBytes(&first));
    Bytes got = HandedOut(first);
    EXPECT_LE(got.size(), 4096u);
    EXPECT_GT(got.size(), 0u);
    // The stand-in's input queue holds all 5000, so the cap shows exactly; a
    // pty's line discipline holds no more than 4096 at a time anyway.
    if (IsStandin()) EXPECT_EQ(4096u, got.size());
    Bytes rest = Drain(reader.get(), sent.size() - got.size());
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(sent, got);
}

TEST_P(LinkedPortsTest, WriteTakesSignedArraysAndAnyLowerBound) {
    ComPtr<IRs232Driver> a = OpenDriver(Near());
    ComPtr<IRs232Driver> b = OpenDriver(Far());

    Variant signedBytes;
    MakeArray(signedBytes, {0xFF, 0x80, 0x00, 0x7F}, VT_I1);
    ExpectUnreported(S_OK, a->Write(signedBytes));
    Variant lowerMinus3;
    MakeArray(lowerMinus3, {10, 11, 12, 13}, VT_UI1, -3);
    EXPECT_EQ(S_OK, a->Write(lowerMinus3));
    Variant lower5;
    MakeArray(lower5, {20, 21, 22}, VT_UI1, 5);
    EXPECT_EQ(S_OK, a->Write(lower5));
    Variant empty;
    MakeArray(empty, {});
    EXPECT_EQ(S_OK, a->Write(empty));
    EXPECT_EQ(0u, empty.parray->cLocks) << "the caller's empty array was left locked";

    Variant got;
    ASSERT_EQ(S_OK, b->Read(11, &got));
    EXPECT_EQ((Bytes{0xFF, 0x80, 0x00, 0x7F, 10, 11, 12, 13, 20, 21, 22}), HandedOut(got));
}

TEST_P(LinkedPortsTest, RefusedWritesSendNothing) {
    ComPtr<IRs232Driver> a = OpenDriver(Near());
    ComPtr<IRs232Driver> b = OpenDriver(Far());

    ExpectAllRefused(a.get());

    ::Sleep(100);
    Variant got;
    EXPECT_EQ(S_OK, b->ReadAvailableBytes(&got));
    EXPECT_TRUE(HandedOut(got).empty());
}

TEST_P(LinkedPortsTest, OpenAgainReleasesTheHeldPortFirst) {
    ComPtr<IRs232Driver> driver = OpenDriver(Near());
    VARIANT_BOOL ok = 0;
    EXPECT_EQ(S_OK, driver->Open(Near(), &ok));
    EXPECT_EQ(1, ok);
    EXPECT_EQ(1u, OpenCommHandles().size());

    // A failed Open leaves the object closed and keeps the number shown before.
    ExpectUnreported(E_FAIL, driver->Open(250, &ok));
    EXPECT_EQ(0, ok);
    EXPECT_TRUE(OpenCommHandles().empty());
    long number = 0;
    driver->get_PortNumber(&number);
    EXPECT_EQ(Near(), number);
    ExpectReported(E_FAIL, L"WriteFile failed", WriteBytes(driver.get(), {1}));

    EXPECT_EQ(S_OK, driver->Open(Near(), &ok));
    EXPECT_EQ(S_OK, driver->Close());
    driver->get_PortNumber(&number);
    EXPECT_EQ(0, number);
    EXPECT_TRUE(OpenCommHandles().empty());

    // Dropping the last reference closes the port too.
    driver = OpenDriver(Near());
    EXPECT_EQ(1u, OpenCommHandles().size());
    driver.reset();
    EXPECT_TRUE(OpenCommHandles().empty());
}

TEST_P(LinkedPortsTest, CallsOnOneObjectAreSerialised) {
    ComPtr<IRs232Driver> driver = OpenDriver(Near());
    IRs232Driver* shared = driver.get();
    std::atomic<bool> reading{false};
    HRESULT readResult = S_OK;
    double readEndedMs = 0;
    Stopwatch clock;
    std::thread reader([&] {
        ApartmentScope apartment;
        Variant out;
        reading = true;
        readResult = shared->Read(200, &out);  // nothing comes: about 1 s
        readEndedMs = clock.Ms();
    });
    while (!reading) ::Sleep(1);
    ::Sleep(100);
    long number = 0;
    EXPECT_EQ(S_OK, driver->get_PortNumber(&number));  // waits for the Read
    const double propertyMs = clock.Ms();
    EXPECT_EQ(S_OK, driver->Close());
    reader.join();

    EXPECT_EQ(E_FAIL, readResult);
    EXPECT_GE(propertyMs, readEndedMs - 50);  // not answered while the Read ran
    EXPECT_GE(propertyMs, 900.0);
    EXPECT_EQ(Near(), number);
    EXPECT_TRUE(OpenCommHandles().empty());
}

TEST_P(LinkedPortsTest, ByNameTransfersAsScriptsCallThem) {
    ComPtr<IRs232Driver> a = OpenDriver(Near());
    ComPtr<IRs232Driver> b = OpenDriver(Far());
    ComPtr<IDispatch> sender, receiver;
    ASSERT_HRESULT_SUCCEEDED(a.As(sender));
    ASSERT_HRESULT_SUCCEEDED(b.As(receiver));

    // A byte array by value, as JScript passes it and VBScript passes "(bytes)"
    // or a function's result.
    Variant bytes;
    MakeArray(bytes, {'h', 'i', 0, '!'});
    CallResult written;
    CallByName(sender.get(), L"Write", DISPATCH_METHOD, {bytes}, nullptr, written);
    EXPECT_EQ(S_OK, written.hr) << written.Description().c_str();

    // A VBScript variable passed bare arrives as a reference to a VARIANT: not
    // a byte array, so it is refused and nothing is sent.
    VARIANTARG reference;
    reference.vt = VT_BYREF | VT_VARIANT;
    reference.pvarVal = &bytes;
    CallResult refused;
    CallByName(sender.get(), L"Write", DISPATCH_METHOD, {reference}, nullptr, refused);
    EXPECT_EQ(DISP_E_EXCEPTION, refused.hr);
    EXPECT_EQ(L"variant type mismatch", refused.Description());

    Variant got;
    CallResult read;
    CallByName(receiver.get(), L"Read", DISPATCH_METHOD, {Long(4)}, &got, read);
    EXPECT_EQ(S_OK, read.hr);
    EXPECT_EQ((Bytes{'h', 'i', 0, '!'}), HandedOut(got));

    Variant nothing;
    CallResult available;
    CallByName(receiver.get(), L"ReadAvailableBytes", DISPATCH_METHOD, {}, &nothing, available);
    EXPECT_EQ(S_OK, available.hr);
    EXPECT_TRUE(HandedOut(nothing).empty());
}

INSTANTIATE_TEST_SUITE_P(Pair, LinkedPortsTest, ::testing::Values(SERIAL_PAIR),
                         [](const ::testing::TestParamInfo<PortPair>& info) { return std::string(info.param.kind); });

}  // namespace
}  // namespace tarn::test
