// Line events: what an armed port remembers, what a new mask does, and how a
// pending wait ends (event, new mask, cancel, close).
#include "nullmodem_test_support.h"

using namespace nulltest;

namespace {

class EventTest : public NullModemTest {
protected:
    void SetUp() override {
        NullModemTest::SetUp();
        lines = OpenLines(kPortB);  // as the line driver opens it
        peer = OpenSync(kPortA);
        ASSERT_TRUE(lines.valid() && peer.valid());
        ASSERT_TRUE(LowerOutputs(peer.get()));
    }

    // Starts an overlapped wait; true if it is pending.
    bool StartWait(Overlapped &ov, DWORD *mask) {
        *mask = 0xDEAD;
        if (WaitCommEvent(lines.get(), mask, ov.get())) return false;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        return GetLastError() == ERROR_IO_PENDING;
    }

    Handle lines, peer;
};

TEST_F(EventTest, PendingWaitCompletesWithTheEventThatHappened) {
    ASSERT_TRUE(SetCommMask(lines.get(), 0x138));
    Overlapped ov;
    DWORD mask = 0;
    ASSERT_TRUE(StartWait(ov, &mask));
    EXPECT_FALSE(ov.WaitDone(50)) << "nothing happened yet";
    EXPECT_EQ(control.State(kPortB).waits_pending, 1u);
    ASSERT_TRUE(EscapeCommFunction(peer.get(), SETRTS));
    ASSERT_TRUE(ov.WaitDone(2000));
    DWORD n = 0, error = 0;
    EXPECT_TRUE(ov.Result(lines.get(), &n, &error));
    EXPECT_EQ(mask, static_cast<DWORD>(EV_CTS));
    EXPECT_EQ(control.State(kPortB).waits_pending, 0u);
}

TEST_F(EventTest, DtrChangeReportsDsrAndDcdTogether) {
    ASSERT_TRUE(SetCommMask(lines.get(), 0x138));
    Overlapped ov;
    DWORD mask = 0;
    ASSERT_TRUE(StartWait(ov, &mask));
    ASSERT_TRUE(EscapeCommFunction(peer.get(), SETDTR));
    ASSERT_TRUE(ov.WaitDone(2000));
    EXPECT_EQ(mask, static_cast<DWORD>(EV_DSR | EV_RLSD));
}

TEST_F(EventTest, EventsWhileArmedAreRememberedForTheNextWait) {
    ASSERT_TRUE(SetCommMask(lines.get(), 0x138));
    ASSERT_TRUE(EscapeCommFunction(peer.get(), SETRTS));  // no wait pending
    ASSERT_TRUE(EscapeCommFunction(peer.get(), SETDTR));
    Overlapped ov;
    DWORD mask = 0;
    BOOL done = WaitCommEvent(lines.get(), &mask, ov.get());
    if (!done) {
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        ASSERT_TRUE(ov.WaitDone(100)) << "remembered events complete the wait at once";
    }
    EXPECT_EQ(mask, static_cast<DWORD>(EV_CTS | EV_DSR | EV_RLSD));
    // the memory is used up
    Overlapped second;
    ASSERT_TRUE(StartWait(second, &mask));
    EXPECT_FALSE(second.WaitDone(50));
    ASSERT_TRUE(SetCommMask(lines.get(), 0));
    ASSERT_TRUE(second.WaitDone(2000));
}

TEST_F(EventTest, EventsOutsideTheMaskAreNeitherReportedNorRemembered) {
    ASSERT_TRUE(SetCommMask(lines.get(), EV_CTS));
    ASSERT_TRUE(EscapeCommFunction(peer.get(), SETDTR));  // DSR, DCD: not armed
    Overlapped ov;
    DWORD mask = 0;
    ASSERT_TRUE(StartWait(ov, &mask));
    EXPECT_FALSE(ov.WaitDone(50));
    ASSERT_TRUE(EscapeCommFunction(peer.get(), SETRTS));
    ASSERT_TRUE(ov.WaitDone(2000));
    EXPECT_EQ(mask, static_cast<DWORD>(EV_CTS));
}

TEST_F(EventTest, NewMaskForgetsEventsAndEndsThePendingWaitWithZero) {
    ASSERT_TRUE(SetCommMask(lines.get(), 0x138));
    ASSERT_TRUE(EscapeCommFunction(peer.get(), SETRTS));  // remembered...
    ASSERT_TRUE(SetCommMask(lines.get(), 0x138));         // ...and forgotten
    Overlapped ov;
    DWORD mask = 0;
    ASSERT_TRUE(StartWait(ov, &mask)) << "nothing remembered after a new mask";
    EXPECT_FALSE(ov.WaitDone(50));
    ASSERT_TRUE(SetCommMask(lines.get(), 0));
    ASSERT_TRUE(ov.WaitDone(2000));
    DWORD n = 0, error = 0;
    EXPECT_TRUE(ov.Result(lines.get(), &n, &error)) << error;
    EXPECT_EQ(mask, 0u);
    // with no mask, a wait is refused
    EXPECT_FALSE(WaitCommEvent(lines.get(), &mask, ov.get()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(EventTest, OnlyOneWaitAtATime) {
    ASSERT_TRUE(SetCommMask(lines.get(), 0x138));
    Overlapped first, second;
    DWORD mask1 = 0, mask2 = 0;
    ASSERT_TRUE(StartWait(first, &mask1));
    BOOL ok = WaitCommEvent(lines.get(), &mask2, second.get());
    DWORD error = ok ? 0 : GetLastError();
    if (error == ERROR_IO_PENDING) {
        ASSERT_TRUE(second.WaitDone(2000));
        EXPECT_FALSE(second.Result(lines.get(), nullptr, &error));
    }
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(first.WaitDone(20)) << "the first wait stays pending";
    ASSERT_TRUE(SetCommMask(lines.get(), 0));
    ASSERT_TRUE(first.WaitDone(2000));
}

TEST_F(EventTest, CancelEndsAPendingWait) {
    ASSERT_TRUE(SetCommMask(lines.get(), 0x138));
    Overlapped ov;
    DWORD mask = 0;
    ASSERT_TRUE(StartWait(ov, &mask));
    ASSERT_TRUE(CancelIo(lines.get()));
    ASSERT_TRUE(ov.WaitDone(2000));
    DWORD error = 0;
    EXPECT_FALSE(ov.Result(lines.get(), nullptr, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(control.State(kPortB).waits_pending, 0u);
    // the port keeps working: a new wait sees the next event
    Overlapped next;
    ASSERT_TRUE(StartWait(next, &mask));
    ASSERT_TRUE(EscapeCommFunction(peer.get(), SETRTS));
    ASSERT_TRUE(next.WaitDone(2000));
    EXPECT_EQ(mask, static_cast<DWORD>(EV_CTS));
}

TEST_F(EventTest, ClosingThePortEndsItsPendingRequests) {
    Handle port = OpenOverlapped(kPortA + 2);
    ASSERT_TRUE(port.valid());
    ASSERT_TRUE(SetCommMask(port.get(), 0x138));
    ASSERT_TRUE(SetTimeouts(port.get(), 0, 0, 0));  // reads wait for ever
    Overlapped wait, read;
    DWORD mask = 0;
    ASSERT_FALSE(WaitCommEvent(port.get(), &mask, wait.get()));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    char buffer[8];
    ASSERT_FALSE(ReadFile(port.get(), buffer, sizeof buffer, nullptr, read.get()));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    auto state = control.State(kPortA + 2);
    EXPECT_EQ(state.waits_pending, 1u);
    EXPECT_EQ(state.reads_pending, 1u);
    port.reset();
    EXPECT_TRUE(wait.WaitDone(2000));
    EXPECT_TRUE(read.WaitDone(2000));
    state = control.State(kPortA + 2);
    EXPECT_EQ(state.is_open, 0u);
    EXPECT_EQ(state.waits_pending + state.reads_pending, 0u);
    Handle again = OpenSync(kPortA + 2);
    EXPECT_TRUE(again.valid());
    EXPECT_TRUE(SetupComm(again.get(), 4096, 4096));
}

TEST_F(EventTest, DataEventsReportArrivalAndEmptyOutput) {
    Handle data = OpenOverlapped(kPortA + 2);
    Handle other = OpenSync(kPortB + 2);
    ASSERT_TRUE(data.valid() && other.valid());
    ASSERT_TRUE(SetCommMask(data.get(), EV_RXCHAR | EV_TXEMPTY | EV_RXFLAG));
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(data.get(), &dcb));
    dcb.EvtChar = '\n';
    ASSERT_TRUE(SetCommState(data.get(), &dcb));
    Overlapped ov;
    DWORD mask = 0;
    ASSERT_FALSE(WaitCommEvent(data.get(), &mask, ov.get()));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    ASSERT_TRUE(WriteAll(other.get(), "line\n"));
    ASSERT_TRUE(ov.WaitDone(2000));
    EXPECT_EQ(mask, static_cast<DWORD>(EV_RXCHAR | EV_RXFLAG));

    Overlapped write, wait;
    ASSERT_FALSE(WaitCommEvent(data.get(), &mask, wait.get()));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    BOOL ok = WriteFile(data.get(), "x", 1, nullptr, write.get());
    ASSERT_TRUE(ok || GetLastError() == ERROR_IO_PENDING);
    ASSERT_TRUE(write.WaitDone(2000));
    ASSERT_TRUE(wait.WaitDone(2000));
    EXPECT_EQ(mask, static_cast<DWORD>(EV_TXEMPTY));
}

TEST_F(EventTest, PendingReadCanBeCancelledWithoutLosingData) {
    Handle port = OpenOverlapped(kPortA + 2);
    Handle other = OpenSync(kPortB + 2);
    ASSERT_TRUE(port.valid() && other.valid());
    ASSERT_TRUE(SetTimeouts(port.get(), 0, 0, 0));
    Overlapped read;
    char buffer[8];
    ASSERT_FALSE(ReadFile(port.get(), buffer, sizeof buffer, nullptr, read.get()));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    ASSERT_TRUE(WriteAll(other.get(), "abc"));  // fewer than asked: the read goes on
    EXPECT_FALSE(read.WaitDone(50));
    ASSERT_TRUE(CancelIo(port.get()));
    ASSERT_TRUE(read.WaitDone(2000));
    DWORD error = 0;
    EXPECT_FALSE(read.Result(port.get(), nullptr, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    COMSTAT stat{};
    DWORD errors = 0;
    ASSERT_TRUE(ClearCommError(port.get(), &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 3u) << "the bytes stay queued for the next read";
}

}  // namespace
