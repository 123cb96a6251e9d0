// The cable: lines cross over, bytes arrive at the other end, breaks are seen.
#include "nullmodem_test_support.h"

using namespace nulltest;

namespace {

class WiringTest : public CableTest {
protected:
    void SetUp() override {
        CableTest::SetUp();
        for (HANDLE h : {a.get(), b.get()}) ASSERT_TRUE(LowerOutputs(h));
    }
};

TEST_F(WiringTest, DtrDrivesPeerDsrAndDcdAndRtsDrivesPeerCts) {
    EXPECT_EQ(ModemStatus(b.get()), 0u);
    ASSERT_TRUE(EscapeCommFunction(a.get(), SETDTR));
    EXPECT_EQ(ModemStatus(b.get()), static_cast<DWORD>(MS_DSR_ON | MS_RLSD_ON));
    EXPECT_EQ(ModemStatus(a.get()), 0u) << "a port does not see its own outputs";
    ASSERT_TRUE(EscapeCommFunction(a.get(), SETRTS));
    EXPECT_EQ(ModemStatus(b.get()), static_cast<DWORD>(MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON));
    ASSERT_TRUE(EscapeCommFunction(a.get(), CLRDTR));
    EXPECT_EQ(ModemStatus(b.get()), static_cast<DWORD>(MS_CTS_ON));
    ASSERT_TRUE(EscapeCommFunction(b.get(), SETDTR));
    EXPECT_EQ(ModemStatus(a.get()), static_cast<DWORD>(MS_DSR_ON | MS_RLSD_ON)) << "and back the other way";
    auto state = control.State(kPortA);
    EXPECT_EQ(state.rts, 1u);
    EXPECT_EQ(state.dtr, 0u);
}

TEST_F(WiringTest, OtherPairIsNotConnected) {
    Handle c = OpenSync(kPortA + 2);
    ASSERT_TRUE(c.valid());
    ASSERT_TRUE(EscapeCommFunction(a.get(), SETDTR));
    EXPECT_EQ(ModemStatus(c.get()), 0u);
    ASSERT_TRUE(WriteAll(a.get(), "abc"));
    COMSTAT stat{};
    DWORD errors = 0;
    ASSERT_TRUE(ClearCommError(c.get(), &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
}

TEST_F(WiringTest, BytesWrittenArriveInThePeersInputQueue) {
    ASSERT_TRUE(SetTimeouts(b.get(), 0, 0, 1000));
    ASSERT_TRUE(WriteAll(a.get(), "hello, world"));
    COMSTAT stat{};
    DWORD errors = 0;
    ASSERT_TRUE(ClearCommError(b.get(), &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 12u);
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(ReadSome(b.get(), 5), "hello");
    EXPECT_EQ(ReadSome(b.get(), 7), ", world");
    ASSERT_TRUE(WriteAll(b.get(), std::string("\0\xff\x11\x13", 4)));
    ASSERT_TRUE(SetTimeouts(a.get(), 0, 0, 1000));
    EXPECT_EQ(ReadSome(a.get(), 4), std::string("\0\xff\x11\x13", 4)) << "binary bytes pass unchanged";
    EXPECT_EQ(control.State(kPortA).bytes_sent, 12u);
    EXPECT_EQ(control.State(kPortB).bytes_received, 12u);
}

TEST_F(WiringTest, MoreThanAQueueSizeStaysForTheNextRead) {
    std::string big(5000, '\0');
    for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<char>(i * 7);
    ASSERT_TRUE(WriteAll(a.get(), big));
    ASSERT_TRUE(SetTimeouts(b.get(), MAXDWORD, 0, 0));
    std::string first = ReadSome(b.get(), 4096);
    std::string rest = ReadSome(b.get(), 4096);
    EXPECT_EQ(first.size(), 4096u);
    EXPECT_EQ(rest.size(), 904u);
    EXPECT_EQ(first + rest, big);
}

TEST_F(WiringTest, BytesToAClosedPeerAreLostAndTheWriteStillCompletes) {
    b.reset();
    ASSERT_TRUE(WriteAll(a.get(), "nobody listens"));
    b = OpenSync(kPortB);
    ASSERT_TRUE(b.valid());
    COMSTAT stat{};
    DWORD errors = 0;
    ASSERT_TRUE(ClearCommError(b.get(), &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
}

TEST_F(WiringTest, BreakRaisesThePeersBreakEventAndError) {
    ASSERT_TRUE(SetCommMask(b.get(), EV_BREAK));
    ASSERT_TRUE(SetCommBreak(a.get()));
    EXPECT_EQ(control.State(kPortA).break_on, 1u);
    ASSERT_TRUE(ClearCommBreak(a.get()));
    EXPECT_EQ(control.State(kPortA).break_on, 0u);
    DWORD errors = 0;
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(b.get(), &errors, &stat));
    EXPECT_EQ(errors & CE_BREAK, static_cast<DWORD>(CE_BREAK));
    ASSERT_TRUE(ClearCommError(b.get(), &errors, &stat));
    EXPECT_EQ(errors, 0u) << "reading the errors clears them";
    DWORD mask = 0;
    EXPECT_TRUE(WaitCommEvent(b.get(), &mask, nullptr)) << "the break was remembered";
    EXPECT_EQ(mask, static_cast<DWORD>(EV_BREAK));
}

TEST_F(WiringTest, PurgeEmptiesTheInputQueue) {
    ASSERT_TRUE(WriteAll(a.get(), "stale"));
    ASSERT_TRUE(PurgeComm(b.get(), PURGE_RXCLEAR | PURGE_TXCLEAR));
    ASSERT_TRUE(SetTimeouts(b.get(), MAXDWORD, 0, 0));
    EXPECT_EQ(ReadSome(b.get(), 10), "");
}

TEST_F(WiringTest, CtsFlowControlHoldsOutputUntilThePeerRaisesRts) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(a.get(), &dcb));
    dcb.fOutxCtsFlow = 1;
    ASSERT_TRUE(SetCommState(a.get(), &dcb));
    ASSERT_TRUE(SetTimeouts(a.get(), 0, 0, 0, 0, 150));
    DWORD n = 99;
    EXPECT_TRUE(WriteFile(a.get(), "held", 4, &n, nullptr));
    EXPECT_EQ(n, 0u) << "CTS is low: nothing goes out before the write time-out";
    ASSERT_TRUE(EscapeCommFunction(b.get(), SETRTS));
    EXPECT_TRUE(WriteAll(a.get(), "free"));
    ASSERT_TRUE(SetTimeouts(b.get(), MAXDWORD, 0, 0));
    EXPECT_EQ(ReadSome(b.get(), 10), "free");
}

}  // namespace
