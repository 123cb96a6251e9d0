// Rs232Driver on the null-modem stand-in: what only a port with a driver
// behind it shows (exclusive open, the lines, pacing at the baud rate and
// failing requests), checked against the stand-in's own record of the port.
#include "serial/standin_support.h"

namespace tarn::test {
namespace {

class StandinTest : public MtaTest {
protected:
    void SetUp() override {
        MtaTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(ResetStandinPair(pair_));
        ClearErrorInfo();
    }
    void TearDown() override {
        control_.Pace(pair_.near_, false);
        MtaTest::TearDown();
    }
    // Opening fails once the near port is told to fail this request.
    void ExpectOpenFailsOn(uint32_t kind) {
        ComPtr<IRs232Driver> driver = OpenDriver(pair_.far_);  // shows the number kept
        ASSERT_TRUE(control_.FailNext(pair_.near_, kind, 1));
        VARIANT_BOOL ok = 7;
        ExpectUnreported(E_FAIL, driver->Open(pair_.near_, &ok));
        EXPECT_EQ(0, ok);
        long number = 0;
        driver->get_PortNumber(&number);
        EXPECT_EQ(pair_.far_, number);
        EXPECT_TRUE(OpenCommHandles().empty()) << "the port was closed again";
        // The port is free: the next Open succeeds.
        EXPECT_EQ(S_OK, driver->Open(pair_.near_, &ok));
    }

    PortPair pair_ = StandinPair();
    nulltest::Control control_;
};

TEST_F(StandinTest, PortIsHeldExclusivelyUntilClose) {
    ComPtr<IRs232Driver> holder = OpenDriver(pair_.near_);
    ComPtr<IRs232Driver> other = NewDriver();
    VARIANT_BOOL ok = 7;
    ExpectUnreported(E_FAIL, other->Open(pair_.near_, &ok));
    EXPECT_EQ(0, ok);
    long number = -1;
    other->get_PortNumber(&number);
    EXPECT_EQ(0, number);

    // The holder is unaffected.
    ComPtr<IRs232Driver> peer = OpenDriver(pair_.far_);
    EXPECT_EQ(S_OK, WriteBytes(holder.get(), {1, 2}));
    Variant got;
    EXPECT_EQ(S_OK, peer->Read(2, &got));

    EXPECT_EQ(S_OK, holder->Close());
    for (int i = 0; i < 100 && control_.State(pair_.near_).is_open; ++i) ::Sleep(10);
    EXPECT_EQ(S_OK, other->Open(pair_.near_, &ok));
    EXPECT_EQ(1, ok);
}

TEST_F(StandinTest, OpenHoldsDtrAndRtsLowAndSetsRateAndQueues) {
    ComPtr<IRs232Driver> driver = NewDriver();
    driver->put_BaudRate(38400);
    VARIANT_BOOL ok = 0;
    ASSERT_EQ(S_OK, driver->Open(pair_.near_, &ok));
    TarnNullModemPortState state = control_.State(pair_.near_);
    EXPECT_EQ(0u, state.dtr);
    EXPECT_EQ(0u, state.rts);
    EXPECT_EQ(38400u, state.baud_rate);
    EXPECT_EQ(1u, state.requests[TARN_NULLMODEM_REQ_SET_QUEUE_SIZE]);
    EXPECT_LE(1u, state.requests[TARN_NULLMODEM_REQ_SET_TIMEOUTS]);
    // The far end sees the lines low: DSR, DCD and CTS off.
    EXPECT_EQ(0u, control_.State(pair_.far_).modem_status & 0xB0);

    driver->put_BaudRate(115200);
    EXPECT_EQ(115200u, control_.State(pair_.near_).baud_rate);
}

TEST_F(StandinTest, FailingQueueOrTimeoutSetupClosesThePortAgain) {
    ExpectOpenFailsOn(TARN_NULLMODEM_REQ_SET_QUEUE_SIZE);
    ExpectOpenFailsOn(TARN_NULLMODEM_REQ_GET_TIMEOUTS);
    ExpectOpenFailsOn(TARN_NULLMODEM_REQ_SET_TIMEOUTS);
}

TEST_F(StandinTest, FailingLineSettingsDoNotFailOpen) {
    ASSERT_TRUE(control_.FailNext(pair_.near_, TARN_NULLMODEM_REQ_SET_BAUD_RATE, 1));
    ComPtr<IRs232Driver> driver = OpenDriver(pair_.near_);
    long number = 0;
    driver->get_PortNumber(&number);
    EXPECT_EQ(pair_.near_, number);
}

TEST_F(StandinTest, FailingTransfersReportTheirMessages) {
    ComPtr<IRs232Driver> driver = OpenDriver(pair_.near_);
    ASSERT_TRUE(control_.FailNext(pair_.near_, TARN_NULLMODEM_REQ_WRITE, 1));
    ExpectReported(E_FAIL, L"WriteFile failed", WriteBytes(driver.get(), {1, 2, 3}));
    EXPECT_EQ(0u, control_.State(pair_.far_).bytes_received);

    ASSERT_TRUE(control_.FailNext(pair_.near_, TARN_NULLMODEM_REQ_READ, 1));
    Variant out;
    MarkUntouched(out);
    ExpectReported(E_FAIL, L"ReadFile failed", driver->Read(3, &out));
    EXPECT_TRUE(Untouched(out));
}

TEST_F(StandinTest, ReadAvailableBytesFailsWhenItsReadFailsAndRestoresTimeouts) {
    ComPtr<IRs232Driver> driver = OpenDriver(pair_.near_);
    ComPtr<IRs232Driver> peer = OpenDriver(pair_.far_);
    ASSERT_EQ(S_OK, WriteBytes(peer.get(), {5, 6}));
    ::Sleep(50);

    ASSERT_TRUE(control_.FailNext(pair_.near_, TARN_NULLMODEM_REQ_READ, 1));
    Variant out;
    MarkUntouched(out);
    ExpectUnreported(E_FAIL, driver->ReadAvailableBytes(&out));
    EXPECT_TRUE(Untouched(out));

    Stopwatch full;
    ExpectReported(E_FAIL, L"not all bytes received", driver->Read(10, &out));
    EXPECT_GE(full.Ms(), 200.0);  // the read time-outs are back

    // The time-outs cannot be read or set: nothing is read, nothing handed out.
    ASSERT_TRUE(control_.FailNext(pair_.near_, TARN_NULLMODEM_REQ_GET_TIMEOUTS, 1));
    ExpectUnreported(E_FAIL, driver->ReadAvailableBytes(&out));
    ASSERT_TRUE(control_.FailNext(pair_.near_, TARN_NULLMODEM_REQ_SET_TIMEOUTS, 1));
    ExpectUnreported(E_FAIL, driver->ReadAvailableBytes(&out));
    EXPECT_TRUE(Untouched(out));
}

TEST_F(StandinTest, PacedWritePastItsTimeOutIsReportedShort) {
    ComPtr<IRs232Driver> driver = NewDriver();
    driver->put_BaudRate(300);  // 30 bytes a second
    VARIANT_BOOL ok = 0;
    ASSERT_EQ(S_OK, driver->Open(pair_.near_, &ok));
    ComPtr<IRs232Driver> peer = NewDriver();
    peer->put_BaudRate(300);
    ASSERT_EQ(S_OK, peer->Open(pair_.far_, &ok));
    ASSERT_TRUE(control_.Pace(pair_.near_, true));

    // 100 bytes need 3.3 s; the write gives up after 200 + 4 * 100 ms.
    Stopwatch watch;
    ExpectReported(E_FAIL, L"not all bytes transmitted", WriteBytes(driver.get(), Pattern(100)));
    const double ms = watch.Ms();
    EXPECT_GE(ms, 550.0);
    EXPECT_LT(ms, 600 + 2500.0);
    ::Sleep(100);
    const uint32_t arrived = control_.State(pair_.far_).bytes_received;
    EXPECT_GT(arrived, 0u);
    EXPECT_LT(arrived, 100u);

    // At 9600 baud 40 bytes take about 42 ms: well inside 360 ms.
    driver->put_BaudRate(9600);
    ExpectUnreported(S_OK, WriteBytes(driver.get(), Pattern(40)));
}

TEST_F(StandinTest, UnpluggedPortFailsTransfersAndOpen) {
    ComPtr<IRs232Driver> driver = OpenDriver(pair_.near_);
    ASSERT_TRUE(control_.Plug(pair_.near_, false));
    ExpectReported(E_FAIL, L"WriteFile failed", WriteBytes(driver.get(), {1}));
    Variant out;
    ExpectReported(E_FAIL, L"ReadFile failed", driver->Read(1, &out));
    ExpectUnreported(E_FAIL, driver->ReadAvailableBytes(&out));

    VARIANT_BOOL ok = 7;
    ExpectUnreported(E_FAIL, NewDriver()->Open(pair_.near_, &ok));
    EXPECT_EQ(0, ok);
    ASSERT_TRUE(control_.Plug(pair_.near_, true));
}

}  // namespace
}  // namespace tarn::test
