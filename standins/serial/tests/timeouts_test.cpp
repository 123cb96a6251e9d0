// Read and write time-outs by the COMMTIMEOUTS rules, and paced output.
// Bounds are generous: the machine may be loaded.
#include "nullmodem_test_support.h"

using namespace nulltest;

namespace {

constexpr double kLate = 200;  // how much later than due a request may end here

// A request due after `due` ms took `ms`: no less than `earliest`, and less than kLate beyond its due time.
::testing::AssertionResult EndedOnTime(double ms, double earliest, double due) {
    if (ms >= earliest && ms < due + kLate) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "took " << ms << " ms; expected at least " << earliest << " and less than "
                                         << due + kLate;
}

class TimeoutTest : public CableTest {
protected:
    // Writes `bytes` to the reader's port after `ms`, from another thread.
    std::thread WriteLater(int ms, std::string bytes) {
        HANDLE h = writer.get();
        return std::thread([h, ms, bytes] {
            Sleep(ms);
            DWORD n = 0;
            WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
        });
    }
    // Reads up to `n` bytes while `bytes` are written to the reader's port after `ms`.
    std::string ReadWritingLater(DWORD n, int ms, std::string bytes, double *took) {
        std::thread t = WriteLater(ms, std::move(bytes));
        std::string got = ReadSome(reader.get(), n, took);
        t.join();
        return got;
    }

    Handle &reader = b, &writer = a;
};

TEST_F(TimeoutTest, TotalTimeoutIsMultiplierTimesCountPlusConstant) {
    ASSERT_TRUE(SetTimeouts(reader.get(), 0, 4, 200));
    double ms = 0;
    BOOL ok = FALSE;
    std::string got = ReadSome(reader.get(), 10, &ms, &ok);
    EXPECT_TRUE(ok) << "a time-out is not a failure";
    EXPECT_EQ(got, "");
    EXPECT_TRUE(EndedOnTime(ms, 235, 240));

    ASSERT_TRUE(SetTimeouts(reader.get(), 0, 20, 0));
    got = ReadSome(reader.get(), 5, &ms);
    EXPECT_TRUE(EndedOnTime(ms, 95, 100));
}

TEST_F(TimeoutTest, ShortReadReturnsWhatArrivedAtTheTimeout) {
    ASSERT_TRUE(SetTimeouts(reader.get(), 0, 4, 200));
    ASSERT_TRUE(WriteAll(writer.get(), "1234"));
    double ms = 0;
    EXPECT_EQ(ReadSome(reader.get(), 10, &ms), "1234");
    EXPECT_TRUE(EndedOnTime(ms, 235, 240));
}

TEST_F(TimeoutTest, ReadEndsAsSoonAsAllBytesArrive) {
    ASSERT_TRUE(SetTimeouts(reader.get(), 0, 4, 2000));
    double ms = 0;
    EXPECT_EQ(ReadWritingLater(6, 100, "abcdef", &ms), "abcdef");
    EXPECT_TRUE(EndedOnTime(ms, 80, 100));
}

TEST_F(TimeoutTest, ZeroTimeoutsWaitForAllBytes) {
    ASSERT_TRUE(SetTimeouts(reader.get(), 0, 0, 0));
    std::thread t1 = WriteLater(50, "ab");
    std::thread t2 = WriteLater(300, "cd");
    double ms = 0;
    EXPECT_EQ(ReadSome(reader.get(), 4, &ms), "abcd");
    t1.join();
    t2.join();
    EXPECT_GE(ms, 280);
}

TEST_F(TimeoutTest, ImmediateReadReturnsWhatIsThereAtOnce) {
    ASSERT_TRUE(SetTimeouts(reader.get(), MAXDWORD, 0, 0));
    double ms = 0;
    BOOL ok = FALSE;
    EXPECT_EQ(ReadSome(reader.get(), 10, &ms, &ok), "");
    EXPECT_TRUE(ok);
    EXPECT_LT(ms, 100);
    ASSERT_TRUE(WriteAll(writer.get(), "xyz"));
    EXPECT_EQ(ReadSome(reader.get(), 10, &ms), "xyz");
    EXPECT_LT(ms, 100);
    EXPECT_EQ(ReadSome(reader.get(), 0, &ms), "");
}

TEST_F(TimeoutTest, FirstByteWaitReturnsWithTheFirstBytesOrAfterTheConstant) {
    ASSERT_TRUE(SetTimeouts(reader.get(), MAXDWORD, MAXDWORD, 300));
    double ms = 0;
    EXPECT_EQ(ReadSome(reader.get(), 10, &ms), "");
    EXPECT_TRUE(EndedOnTime(ms, 290, 300));

    ASSERT_TRUE(SetTimeouts(reader.get(), MAXDWORD, MAXDWORD, 1000));

    EXPECT_EQ(ReadWritingLater(10, 100, "q", &ms), "q");
    EXPECT_TRUE(EndedOnTime(ms, 80, 100)) << "returns with the first byte, not after the constant";

    ASSERT_TRUE(WriteAll(writer.get(), "ready"));
    EXPECT_EQ(ReadSome(reader.get(), 10, &ms), "ready");
    EXPECT_LT(ms, 100);
}

TEST_F(TimeoutTest, IntervalTimeoutEndsAReadAfterAGap) {
    ASSERT_TRUE(SetTimeouts(reader.get(), 80, 0, 0));
    double ms = 0;
    // the interval runs only once a byte has come: the first 150 ms do not count
    EXPECT_EQ(ReadWritingLater(10, 150, "abc", &ms), "abc");
    EXPECT_TRUE(EndedOnTime(ms, 150 + 70, 150 + 80));

    ASSERT_TRUE(WriteAll(writer.get(), "zz"));  // already there: the gap counts from the read's start
    EXPECT_EQ(ReadSome(reader.get(), 10, &ms), "zz");
    EXPECT_TRUE(EndedOnTime(ms, 70, 80));
}

TEST_F(TimeoutTest, TotalTimeoutBoundsAnIntervalRead) {
    ASSERT_TRUE(SetTimeouts(reader.get(), 500, 0, 200));
    double ms = 0;
    EXPECT_EQ(ReadSome(reader.get(), 10, &ms), "");
    EXPECT_TRUE(EndedOnTime(ms, 190, 200));
}

TEST_F(TimeoutTest, PacedWriteTakesTenBitTimesPerByte) {
    ASSERT_TRUE(control.Pace(kPortA, true));
    ASSERT_TRUE(SetBaudRate(writer.get(), 9600));  // 960 bytes a second
    Stopwatch watch;
    ASSERT_TRUE(WriteAll(writer.get(), std::string(192, 'p')));
    double ms = watch.Ms();
    EXPECT_TRUE(EndedOnTime(ms, 190, 200));
    ASSERT_TRUE(SetTimeouts(reader.get(), MAXDWORD, 0, 0));
    EXPECT_EQ(ReadSome(reader.get(), 500).size(), 192u);
}

TEST_F(TimeoutTest, PacedWritePastItsTimeoutReturnsAShortCount) {
    ASSERT_TRUE(control.Pace(kPortA, true));
    ASSERT_TRUE(SetBaudRate(writer.get(), 1200));  // 120 bytes a second
    ASSERT_TRUE(SetTimeouts(writer.get(), 0, 0, 0, 1, 200));  // 200 + 1 * 100 ms
    std::string data(100, 'w');
    DWORD n = 0;
    Stopwatch watch;
    BOOL ok = WriteFile(writer.get(), data.data(), 100, &n, nullptr);
    double ms = watch.Ms();
    EXPECT_TRUE(ok) << "a write time-out is reported by the count, not as a failure";
    EXPECT_GE(n, 34u);  // 36 bytes fit in 300 ms, however late the write is ended
    EXPECT_LE(n, 37u);
    EXPECT_TRUE(EndedOnTime(ms, 290, 300));
    ASSERT_TRUE(SetTimeouts(reader.get(), MAXDWORD, 0, 0));
    EXPECT_EQ(ReadSome(reader.get(), 500).size(), n) << "the peer got exactly what was reported sent";
}

TEST_F(TimeoutTest, UnpacedWriteIsImmediateWhateverItsTimeout) {
    ASSERT_TRUE(SetTimeouts(writer.get(), 0, 0, 0, 4, 200));
    Stopwatch watch;
    ASSERT_TRUE(WriteAll(writer.get(), std::string(4000, 'u')));
    EXPECT_LT(watch.Ms(), 150);
}

}  // namespace
