// The main endpoint as a loopback: reads wait for their bytes, in order, and
// end early only by cancellation, closing, an endpoint reset or an unplug.
#include "usb_test_support.h"

using namespace usbtest;

namespace {

class Loopback : public FreshDevices {
protected:
    bool WaitForPendingReads(uint32_t count) {
        return control.WaitFor(Lumo(0), [count](const TarnUsbDeviceStatus &s) { return s.pending_reads == count; });
    }
};

TEST_F(Loopback, BytesComeBackInTheOrderWritten) {
    Handle h = OpenDevice(Lumo(0));
    ASSERT_TRUE(h.valid());
    Result w = WriteBulk(h.get(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    EXPECT_TRUE(w.ok);
    EXPECT_EQ(10u, w.bytes);
    EXPECT_EQ(10u, control.Status(Lumo(0)).loopback_bytes);

    Bytes first(4), rest(6);
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(h.get(), first.data(), 4, &got, nullptr));
    EXPECT_EQ(4u, got);
    ASSERT_TRUE(ReadFile(h.get(), rest.data(), 6, &got, nullptr));
    EXPECT_EQ((Bytes{1, 2, 3, 4}), first);
    EXPECT_EQ((Bytes{5, 6, 7, 8, 9, 10}), rest);
    EXPECT_EQ(0u, control.Status(Lumo(0)).loopback_bytes);
}

TEST_F(Loopback, ZeroByteTransfersSucceedAtOnce) {
    Handle h = OpenDevice(Lumo(0));
    DWORD got = 99;
    uint8_t byte = 0;
    EXPECT_TRUE(WriteFile(h.get(), &byte, 0, &got, nullptr));
    EXPECT_EQ(0u, got);
    EXPECT_TRUE(ReadFile(h.get(), &byte, 0, &got, nullptr));
    EXPECT_EQ(0u, got);
}

TEST_F(Loopback, AReadWaitsUntilAllItsBytesAreThere) {
    Handle reader = OpenDevice(Lumo(0)), writer = OpenDevice(Lumo(0));
    PendingRead read(reader.get(), 8);
    ASSERT_TRUE(WaitForPendingReads(1));

    ASSERT_TRUE(WriteBulk(writer.get(), {1, 2, 3, 4, 5}).ok);
    EXPECT_EQ(5u, control.Status(Lumo(0)).loopback_bytes);
    EXPECT_FALSE(read.Finished(0));

    ASSERT_TRUE(WriteBulk(writer.get(), {6, 7, 8, 9}).ok);
    ASSERT_TRUE(read.Finished(5000));
    EXPECT_TRUE(read.result().ok);
    EXPECT_EQ(8u, read.result().bytes);
    EXPECT_EQ((Bytes{1, 2, 3, 4, 5, 6, 7, 8}), read.data());
    EXPECT_EQ(1u, control.Status(Lumo(0)).loopback_bytes);
}

TEST_F(Loopback, WaitingReadsAreServedInArrivalOrder) {
    Handle a = OpenDevice(Lumo(0)), b = OpenDevice(Lumo(0)), writer = OpenDevice(Lumo(0));
    PendingRead first(a.get(), 4);
    ASSERT_TRUE(WaitForPendingReads(1));
    PendingRead second(b.get(), 2);
    ASSERT_TRUE(WaitForPendingReads(2));

    ASSERT_TRUE(WriteBulk(writer.get(), {1, 2}).ok);  // enough for the second only: it must wait its turn
    EXPECT_EQ(2u, control.Status(Lumo(0)).pending_reads);
    ASSERT_TRUE(WriteBulk(writer.get(), {3, 4, 5, 6}).ok);
    ASSERT_TRUE(first.Finished(5000));
    ASSERT_TRUE(second.Finished(5000));
    EXPECT_EQ((Bytes{1, 2, 3, 4}), first.data());
    EXPECT_EQ((Bytes{5, 6}), second.data());
}

TEST_F(Loopback, CancelledReadTakesNoBytes) {
    Handle h = OpenDevice(Lumo(0));
    {
        PendingRead read(h.get(), 4);
        ASSERT_TRUE(WaitForPendingReads(1));
        ASSERT_TRUE(CancelIoEx(h.get(), nullptr));
        ASSERT_TRUE(read.Finished(5000));
        EXPECT_FALSE(read.result().ok);
        EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), read.result().error);
    }
    EXPECT_EQ(0u, control.Status(Lumo(0)).pending_reads);
    ASSERT_TRUE(WriteBulk(h.get(), {7, 8, 9, 10}).ok);
    Bytes data(4);
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(h.get(), data.data(), 4, &got, nullptr));
    EXPECT_EQ((Bytes{7, 8, 9, 10}), data);
}

TEST_F(Loopback, ClosingTheHandleEndsItsWaitingReadOnly) {
    Handle closing = OpenDevice(Lumo(0)), staying = OpenDevice(Lumo(0));
    PendingRead other(staying.get(), 1);
    ASSERT_TRUE(WaitForPendingReads(1));
    {
        PendingRead read(closing.get(), 4);
        ASSERT_TRUE(WaitForPendingReads(2));
        closing.reset();
        ASSERT_TRUE(read.Finished(5000));
        EXPECT_FALSE(read.result().ok);
    }
    EXPECT_TRUE(WaitForPendingReads(1));
    EXPECT_EQ(1u, control.Status(Lumo(0)).open_handles);
    ASSERT_TRUE(WriteBulk(staying.get(), {42}).ok);
    ASSERT_TRUE(other.Finished(5000));
    EXPECT_EQ((Bytes{42}), other.data());
}

TEST_F(Loopback, ResetInAbortsWaitingReadsAndKeepsTheBytes) {
    Handle h = OpenDevice(Lumo(0)), other = OpenDevice(Lumo(0));
    ASSERT_TRUE(WriteBulk(other.get(), {1, 2}).ok);
    PendingRead read(h.get(), 3);
    ASSERT_TRUE(WaitForPendingReads(1));
    ASSERT_TRUE(Ioctl(other.get(), TARN_USB_RESET_IN, nullptr, 0, nullptr, 0).ok);
    ASSERT_TRUE(read.Finished(5000));
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), read.result().error);
    TarnUsbDeviceStatus s = control.Status(Lumo(0));
    EXPECT_EQ(2u, s.loopback_bytes);
    EXPECT_EQ(1u, s.resets_in);
    EXPECT_EQ(0u, s.resets_out);
}

TEST_F(Loopback, ResetOutDropsTheBytesNotYetRead) {
    Handle h = OpenDevice(Lumo(0));
    ASSERT_TRUE(WriteBulk(h.get(), {1, 2, 3}).ok);
    ASSERT_TRUE(Ioctl(h.get(), TARN_USB_RESET_OUT, nullptr, 0, nullptr, 0).ok);
    TarnUsbDeviceStatus s = control.Status(Lumo(0));
    EXPECT_EQ(0u, s.loopback_bytes);
    EXPECT_EQ(1u, s.resets_out);
    ASSERT_TRUE(WriteBulk(h.get(), {4}).ok);
    uint8_t byte = 0;
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(h.get(), &byte, 1, &got, nullptr));
    EXPECT_EQ(4, byte);
}

TEST_F(Loopback, AWriteThatDoesNotFitMovesNothing) {
    Handle h = OpenDevice(Lumo(0));
    ASSERT_TRUE(WriteBulk(h.get(), {1}).ok);
    uint32_t capacity = control.Status(Lumo(0)).loopback_capacity;
    ASSERT_GT(capacity, 1u);
    Result r = WriteBulk(h.get(), Bytes(capacity));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(0u, r.bytes);
    EXPECT_EQ(1u, control.Status(Lumo(0)).loopback_bytes);
    EXPECT_TRUE(WriteBulk(h.get(), Bytes(capacity - 1)).ok) << "what fits is taken";
}

TEST_F(Loopback, EachDeviceHasItsOwnLoopback) {
    Handle lumo = OpenDevice(Lumo(0)), other = OpenDevice(Lumo(1));
    ASSERT_TRUE(WriteBulk(lumo.get(), {1, 2}).ok);
    EXPECT_EQ(0u, control.Status(Lumo(1)).loopback_bytes);
    EXPECT_EQ(2u, control.Status(Lumo(0)).loopback_bytes);
}

}  // namespace
