// The control device: forced lines, injected failures, unplugging, counters.
#include "nullmodem_test_support.h"

using namespace nulltest;

namespace {

class ControlTest : public NullModemTest {};

TEST_F(ControlTest, ForcedRingIsSeenAndRaisesTheRingEvent) {
    Handle lines = OpenLines(kPortB);
    ASSERT_TRUE(lines.valid());
    EXPECT_EQ(ModemStatus(lines.get()) & MS_RING_ON, 0u);
    ASSERT_TRUE(SetCommMask(lines.get(), 0x138));
    Overlapped ov;
    DWORD mask = 0;
    ASSERT_FALSE(WaitCommEvent(lines.get(), &mask, ov.get()));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    ASSERT_TRUE(control.SetLine(kPortB, TARN_NULLMODEM_LINE_RI, TARN_NULLMODEM_LINE_FORCED_ON));
    ASSERT_TRUE(ov.WaitDone(2000));
    EXPECT_EQ(mask, static_cast<DWORD>(EV_RING));
    EXPECT_EQ(ModemStatus(lines.get()) & MS_RING_ON, static_cast<DWORD>(MS_RING_ON));
    ASSERT_TRUE(control.SetLine(kPortB, TARN_NULLMODEM_LINE_RI, TARN_NULLMODEM_LINE_WIRED));
    EXPECT_EQ(ModemStatus(lines.get()) & MS_RING_ON, 0u);
}

TEST_F(ControlTest, ForcedLinesOverrideTheCableUntilGivenBack) {
    Handle a = OpenSync(kPortA);
    Handle b = OpenSync(kPortB);
    ASSERT_TRUE(a.valid() && b.valid());
    ASSERT_TRUE(EscapeCommFunction(a.get(), CLRDTR));
    ASSERT_TRUE(EscapeCommFunction(a.get(), SETRTS));
    ASSERT_TRUE(control.SetLine(kPortB, TARN_NULLMODEM_LINE_CTS, TARN_NULLMODEM_LINE_FORCED_OFF));
    ASSERT_TRUE(control.SetLine(kPortB, TARN_NULLMODEM_LINE_DCD, TARN_NULLMODEM_LINE_FORCED_ON));
    EXPECT_EQ(ModemStatus(b.get()), static_cast<DWORD>(MS_RLSD_ON));
    auto state = control.State(kPortB);
    EXPECT_EQ(state.line_source[TARN_NULLMODEM_LINE_CTS], static_cast<uint32_t>(TARN_NULLMODEM_LINE_FORCED_OFF));
    EXPECT_EQ(state.modem_status, static_cast<uint32_t>(MS_RLSD_ON));
    ASSERT_TRUE(control.SetLine(kPortB, TARN_NULLMODEM_LINE_CTS, TARN_NULLMODEM_LINE_WIRED));
    ASSERT_TRUE(control.SetLine(kPortB, TARN_NULLMODEM_LINE_DCD, TARN_NULLMODEM_LINE_WIRED));
    EXPECT_EQ(ModemStatus(b.get()), static_cast<DWORD>(MS_CTS_ON));
    EXPECT_FALSE(control.SetLine(kPortB, static_cast<TARN_NULLMODEM_LINE>(7), TARN_NULLMODEM_LINE_FORCED_ON));
}

TEST_F(ControlTest, InjectedFailuresHitTheNextRequestsOfTheirKindOnly) {
    Handle port = OpenSync(kPortA);
    ASSERT_TRUE(port.valid());
    ASSERT_TRUE(control.FailNext(kPortA, TARN_NULLMODEM_REQ_SET_QUEUE_SIZE, 2));
    EXPECT_FALSE(SetupComm(port.get(), 4096, 4096));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_TRUE(SetTimeouts(port.get(), 0, 4, 200)) << "other kinds are untouched";
    EXPECT_FALSE(SetupComm(port.get(), 4096, 4096));
    EXPECT_TRUE(SetupComm(port.get(), 4096, 4096)) << "only the next two";

    ASSERT_TRUE(control.FailNext(kPortA, TARN_NULLMODEM_REQ_SET_TIMEOUTS, 1));
    EXPECT_FALSE(SetTimeouts(port.get(), 0, 4, 200));
    EXPECT_TRUE(SetTimeouts(port.get(), 0, 4, 200));

    ASSERT_TRUE(control.FailNext(kPortA, TARN_NULLMODEM_REQ_WRITE, 1, static_cast<int32_t>(0xC0000185u)));  // STATUS_IO_DEVICE_ERROR
    DWORD n = 99;
    EXPECT_FALSE(WriteFile(port.get(), "x", 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_DEVICE));
    EXPECT_TRUE(WriteAll(port.get(), "x"));

    ASSERT_TRUE(control.FailNext(kPortA, TARN_NULLMODEM_REQ_GET_MODEMSTATUS, 1));
    DWORD status = 0;
    EXPECT_FALSE(GetCommModemStatus(port.get(), &status));
    EXPECT_TRUE(GetCommModemStatus(port.get(), &status));

    ASSERT_TRUE(control.FailNext(kPortA, TARN_NULLMODEM_REQ_ANY_ESCAPE, 3));
    EXPECT_FALSE(EscapeCommFunction(port.get(), SETDTR));
    EXPECT_FALSE(EscapeCommFunction(port.get(), CLRRTS));
    EXPECT_FALSE(EscapeCommFunction(port.get(), SETBREAK));
    EXPECT_TRUE(EscapeCommFunction(port.get(), CLRBREAK));

    ASSERT_TRUE(control.FailNext(kPortA, TARN_NULLMODEM_REQ_SET_DTR, 5));
    ASSERT_TRUE(control.FailNext(kPortA, TARN_NULLMODEM_REQ_SET_DTR, 0)) << "count 0 clears";
    EXPECT_TRUE(EscapeCommFunction(port.get(), SETDTR));

    EXPECT_FALSE(control.FailNext(kPortA, TARN_NULLMODEM_REQ_SET_DTR, 1, 0)) << "a success is no failure";
    EXPECT_FALSE(control.FailNext(99, TARN_NULLMODEM_REQ_SET_DTR, 1)) << "no such port";
}

TEST_F(ControlTest, ResetClearsFaultsForcedLinesAndCounters) {
    ASSERT_TRUE(control.FailNext(kPortA, TARN_NULLMODEM_REQ_SET_QUEUE_SIZE, 1));
    ASSERT_TRUE(control.SetLine(kPortA, TARN_NULLMODEM_LINE_RI, TARN_NULLMODEM_LINE_FORCED_ON));
    ASSERT_TRUE(control.Pace(kPortA, true));
    ASSERT_TRUE(control.Reset(kPortA));
    Handle port = OpenSync(kPortA);
    ASSERT_TRUE(port.valid());
    EXPECT_TRUE(SetupComm(port.get(), 4096, 4096));
    EXPECT_EQ(ModemStatus(port.get()) & MS_RING_ON, 0u);
    auto state = control.State(kPortA);
    EXPECT_EQ(state.pacing, 0u);
    EXPECT_EQ(state.requests[TARN_NULLMODEM_REQ_SET_QUEUE_SIZE], 1u);
}

TEST_F(ControlTest, UnpluggedPortFailsPendingAndNewRequestsAndDisappears) {
    Handle port = OpenOverlapped(kPortA);
    Handle peer = OpenSync(kPortB);
    ASSERT_TRUE(port.valid() && peer.valid());
    ASSERT_TRUE(EscapeCommFunction(port.get(), SETDTR));
    ASSERT_TRUE(SetCommMask(port.get(), 0x138));
    ASSERT_TRUE(SetTimeouts(port.get(), 0, 0, 0));
    Overlapped wait, read;
    DWORD mask = 0;
    ASSERT_FALSE(WaitCommEvent(port.get(), &mask, wait.get()));
    char buffer[4];
    ASSERT_FALSE(ReadFile(port.get(), buffer, sizeof buffer, nullptr, read.get()));

    ASSERT_TRUE(control.Plug(kPortA, false));
    ASSERT_TRUE(wait.WaitDone(2000));
    ASSERT_TRUE(read.WaitDone(2000));
    DWORD error = 0;
    EXPECT_FALSE(read.Result(port.get(), nullptr, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_DEVICE_REMOVED));
    EXPECT_FALSE(wait.Result(port.get(), nullptr, &error));
    DWORD status = 0;
    EXPECT_FALSE(GetCommModemStatus(port.get(), &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_REMOVED));
    EXPECT_EQ(ModemStatus(peer.get()) & MS_DSR_ON, 0u) << "the peer sees the lines drop";
    EXPECT_FALSE(ListedInPortMap(kPortA));
    Handle other = OpenSync(kPortA);
    EXPECT_FALSE(other.valid()) << "an unplugged port cannot be opened";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    ASSERT_TRUE(control.Plug(kPortA, true));
    EXPECT_TRUE(ListedInPortMap(kPortA));
    EXPECT_FALSE(GetCommModemStatus(port.get(), &status)) << "the old handle stays stale";
    Handle fresh = OpenSync(kPortA);
    ASSERT_TRUE(fresh.valid());
    EXPECT_TRUE(SetupComm(fresh.get(), 4096, 4096));
}

TEST_F(ControlTest, CountersCountRequestsByKindAndShowPendingWaits) {
    Handle port = OpenLines(kPortB);
    ASSERT_TRUE(port.valid());
    for (int i = 0; i < 3; i++) ModemStatus(port.get());
    EscapeCommFunction(port.get(), SETDTR);
    EscapeCommFunction(port.get(), CLRDTR);
    ASSERT_TRUE(SetCommMask(port.get(), EV_CTS));
    Overlapped ov;
    DWORD mask = 0;
    ASSERT_FALSE(WaitCommEvent(port.get(), &mask, ov.get()));
    auto state = control.State(kPortB);
    EXPECT_EQ(state.requests[TARN_NULLMODEM_REQ_CREATE], 1u);
    EXPECT_EQ(state.requests[TARN_NULLMODEM_REQ_GET_MODEMSTATUS], 3u);
    EXPECT_EQ(state.requests[TARN_NULLMODEM_REQ_SET_DTR], 1u);
    EXPECT_EQ(state.requests[TARN_NULLMODEM_REQ_CLR_DTR], 1u);
    EXPECT_EQ(state.requests[TARN_NULLMODEM_REQ_SET_WAIT_MASK], 1u);
    EXPECT_EQ(state.requests[TARN_NULLMODEM_REQ_WAIT_ON_MASK], 1u);
    EXPECT_EQ(state.waits_pending, 1u);
    EXPECT_EQ(state.wait_mask, static_cast<uint32_t>(EV_CTS));
    EXPECT_EQ(state.is_open, 1u);
    EXPECT_EQ(state.peer, static_cast<uint32_t>(kPortA));
    ASSERT_TRUE(SetCommMask(port.get(), 0));
    ASSERT_TRUE(ov.WaitDone(2000));
    EXPECT_EQ(control.State(kPortB).waits_pending, 0u);
}

}  // namespace
