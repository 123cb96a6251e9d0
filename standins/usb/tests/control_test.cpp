// The control device: request log, injected failures, delays and short reads,
// unplugging, and the in-flight count that shows whether
// callers serialise their requests.
#include "usb_test_support.h"

using namespace usbtest;

namespace {

class ControlDevice : public FreshDevices {};

TEST_F(ControlDevice, LogKeepsRequestsAsReceivedWithTheirOutcome) {
    Handle h = OpenDevice(Lumo(0));
    control.ClearLog();
    EXPECT_TRUE(control.Log().empty());
    uint32_t first = control.NextSequence();

    ASSERT_TRUE(WriteBulk(h.get(), {1, 2, 3}).ok);
    Bytes two(2);
    ASSERT_TRUE(VendorRead(h.get(), 0x44, two, 7, 8).ok);
    EXPECT_FALSE(LockRequest(h.get(), TARN_USB_LOCK, 9).ok);

    auto log = control.Log();
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ(first, log[0].sequence);
    EXPECT_EQ(TARN_USB_BULK_WRITE, log[0].code);
    EXPECT_EQ(3u, log[0].input_length);
    EXPECT_EQ(3u, log[0].information);
    EXPECT_EQ((Bytes{1, 2, 3}), Bytes(log[0].data, log[0].data + log[0].data_length));
    EXPECT_EQ(TARN_USB_VENDOR_READ, log[1].code);
    EXPECT_EQ(2u, log[1].output_length);
    EXPECT_EQ((Bytes{0x44, 0, 7, 0, 8, 0}), Bytes(log[1].data, log[1].data + log[1].data_length));
    EXPECT_EQ(TARN_USB_LOCK, log[2].code);
    EXPECT_EQ(static_cast<int32_t>(0xC000000D), log[2].status);  // invalid parameter
    EXPECT_EQ(log[0].handle_id, log[2].handle_id);

    auto later = control.Log(first + 1);
    ASSERT_EQ(1u, later.size());
    EXPECT_EQ(first + 2, later[0].sequence);
}

TEST_F(ControlDevice, LogShowsAWaitingReadAsPendingUntilItCompletes) {
    Handle h = OpenDevice(Lumo(0));
    uint32_t sequence = control.NextSequence();
    PendingRead read(h.get(), 2);
    ASSERT_TRUE(control.WaitFor(Lumo(0), [](const TarnUsbDeviceStatus &s) { return s.pending_reads == 1; }));
    auto log = control.Log(sequence - 1);
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ(TARN_USB_BULK_READ, log[0].code);
    EXPECT_EQ(0x103, log[0].status);
    EXPECT_EQ(1u, control.Status(Lumo(0)).in_flight);

    ASSERT_TRUE(WriteBulk(h.get(), {5, 6}).ok);
    ASSERT_TRUE(read.Finished(5000));
    log = control.Log(sequence - 1);
    EXPECT_EQ(0, log[0].status);
    EXPECT_EQ(2u, log[0].information);
    EXPECT_EQ(0u, control.Status(Lumo(0)).in_flight);
}

TEST_F(ControlDevice, LogKeepsTheNewestEntries) {
    Handle h = OpenDevice(Lumo(1));
    control.ClearLog();
    for (int i = 0; i < TARN_USB_LOG_ENTRIES + 10; ++i) VendorWrite(h.get(), static_cast<uint8_t>(i), {});
    auto log = control.Log();
    ASSERT_EQ(static_cast<size_t>(TARN_USB_LOG_ENTRIES), log.size());
    for (size_t i = 1; i < log.size(); ++i) EXPECT_EQ(log[i - 1].sequence + 1, log[i].sequence);
    EXPECT_EQ(static_cast<uint8_t>(TARN_USB_LOG_ENTRIES + 9), log.back().data[0]);
}

TEST_F(ControlDevice, InjectedFailuresHitTheNextRequestsOfTheirCodeOnly) {
    Handle h = OpenDevice(Lumo(0));
    ASSERT_TRUE(VendorWrite(h.get(), 1, {0x11}).ok);
    ASSERT_TRUE(control.Fail(Lumo(0), TARN_USB_VENDOR_READ, 2).ok);
    Bytes one(1);
    EXPECT_EQ(static_cast<DWORD>(ERROR_IO_DEVICE), VendorRead(h.get(), 1, one).error);
    EXPECT_TRUE(VendorWrite(h.get(), 1, {0x22}).ok) << "other codes are not affected";
    EXPECT_EQ(static_cast<DWORD>(ERROR_IO_DEVICE), VendorRead(h.get(), 1, one).error);
    EXPECT_TRUE(VendorRead(h.get(), 1, one).ok);
    EXPECT_EQ(0x22, one[0]);

    ASSERT_TRUE(control.Fail(Lumo(0), TARN_USB_LOCK, 1, static_cast<int32_t>(0xC0000010)).ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), LockRequest(h.get(), TARN_USB_LOCK, 0).error);
    EXPECT_EQ(TARN_USB_LOCK_FREE, QueryLock(h.get(), 0)) << "a failed lock is not taken";

    ASSERT_TRUE(control.Fail(Lumo(0), TARN_USB_BULK_WRITE, 1).ok);
    EXPECT_FALSE(WriteBulk(h.get(), {1}).ok);
    EXPECT_EQ(0u, control.Status(Lumo(0)).loopback_bytes);
}

TEST_F(ControlDevice, AnyRequestFailuresAndDisarming) {
    Handle h = OpenDevice(Lumo(0));
    ASSERT_TRUE(control.Fail(Lumo(0), TARN_USB_ANY_REQUEST, 2).ok);
    EXPECT_FALSE(WriteBulk(h.get(), {1}).ok);
    EXPECT_EQ(-1, QueryLock(h.get(), 0));
    EXPECT_TRUE(WriteBulk(h.get(), {1}).ok);

    ASSERT_TRUE(control.Fail(Lumo(0), TARN_USB_VENDOR_WRITE, 5).ok);
    ASSERT_TRUE(control.Fail(Lumo(0), TARN_USB_VENDOR_WRITE, 0).ok);
    EXPECT_TRUE(VendorWrite(h.get(), 1, {}).ok);
    EXPECT_FALSE(control.Fail(Lumo(0), TARN_USB_VENDOR_WRITE, 1, 0x00000001).ok) << "a success is no failure";
    ASSERT_TRUE(control.Fail(Lumo(0), TARN_USB_VENDOR_WRITE, 3).ok);
    ASSERT_TRUE(control.Reset(Lumo(0)).ok);
    EXPECT_TRUE(VendorWrite(h.get(), 1, {}).ok) << "reset drops armed failures";
}

TEST_F(ControlDevice, ShortVendorReadReturnsFewerBytesOnce) {
    Handle h = OpenDevice(Q0215(0));
    ASSERT_TRUE(VendorWrite(h.get(), 9, {1, 2, 3, 4, 5, 6, 7, 8}).ok);
    ASSERT_TRUE(control.ShortRead(Q0215(0), 3).ok);
    Bytes data(8, 0xCC);
    Result r = VendorRead(h.get(), 9, data);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(3u, r.bytes);
    EXPECT_EQ((Bytes{1, 2, 3}), Bytes(data.begin(), data.begin() + 3));
    r = VendorRead(h.get(), 9, data);
    EXPECT_EQ(8u, r.bytes);
}

TEST_F(ControlDevice, UnplugKillsHandlesAndReplugGivesAFreshDevice) {
    Handle h = OpenDevice(Lumo(1));
    ASSERT_TRUE(VendorWrite(h.get(), 3, {3}).ok);
    ASSERT_TRUE(LockRequest(h.get(), TARN_USB_LOCK, 0).ok);
    PendingRead read(h.get(), 1);
    ASSERT_TRUE(control.WaitFor(Lumo(1), [](const TarnUsbDeviceStatus &s) { return s.pending_reads == 1; }));

    ASSERT_TRUE(control.Plug(Lumo(1), false).ok);
    ASSERT_TRUE(read.Finished(5000));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED), read.result().error);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED), VendorWrite(h.get(), 3, {}).error);
    Handle missing = OpenDevice(Lumo(1));
    EXPECT_FALSE(missing.valid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    TarnUsbDeviceStatus s = control.Status(Lumo(1));
    EXPECT_EQ(0, s.plugged);
    EXPECT_EQ(0u, s.open_handles);

    ASSERT_TRUE(control.Plug(Lumo(1), true).ok);
    EXPECT_FALSE(VendorWrite(h.get(), 3, {}).ok) << "a handle from before the unplug stays dead";
    Handle fresh = OpenDevice(Lumo(1));
    ASSERT_TRUE(fresh.valid());
    Bytes reg(1, 0xCC);
    VendorRead(fresh.get(), 3, reg);
    EXPECT_EQ(0, reg[0]);
    EXPECT_EQ(TARN_USB_LOCK_FREE, QueryLock(fresh.get(), 0));
}

TEST_F(ControlDevice, DelayHoldsTheNextRequestWhileOthersPass) {
    Handle slow = OpenDevice(Lumo(0)), fast = OpenDevice(Lumo(0));
    ASSERT_TRUE(control.Delay(Lumo(0), 2000).ok);
    Stopwatch clock;
    BlockingCall slowCall(slow.get(), [&] { return VendorWrite(slow.get(), 1, {1}); });
    ASSERT_TRUE(control.WaitFor(Lumo(0), [](const TarnUsbDeviceStatus &s) { return s.in_flight == 1; }));
    EXPECT_TRUE(VendorWrite(fast.get(), 2, {2}).ok) << "only the next request is delayed";
    EXPECT_FALSE(slowCall.Finished(0));
    ASSERT_TRUE(slowCall.Finished(15000));
    EXPECT_GE(clock.Ms(), 1900);
    EXPECT_TRUE(slowCall.result().ok);
    EXPECT_EQ(2u, control.Status(Lumo(0)).max_in_flight) << "the two callers overlapped";
    Bytes reg(1);
    VendorRead(fast.get(), 1, reg);
    EXPECT_EQ(1, reg[0]) << "the delayed write was carried out";
}

TEST_F(ControlDevice, CallersThatSerialiseNeverOverlap) {
    Handle a = OpenDevice(Lumo(0)), b = OpenDevice(Lumo(0));
    Handle mutex(CreateMutexW(nullptr, FALSE, nullptr));
    ASSERT_TRUE(control.Delay(Lumo(0), 300, 2).ok);
    auto caller = [&](HANDLE device, uint8_t code) {
        for (int i = 0; i < 3; ++i) {
            WaitForSingleObject(mutex.get(), INFINITE);
            VendorWrite(device, code, {code});
            ReleaseMutex(mutex.get());
        }
    };
    BlockingCall first(a.get(), [&] { caller(a.get(), 1); return Result{true, 0, 0}; });
    BlockingCall second(b.get(), [&] { caller(b.get(), 2); return Result{true, 0, 0}; });
    ASSERT_TRUE(first.Finished(15000));
    ASSERT_TRUE(second.Finished(15000));
    TarnUsbDeviceStatus s = control.Status(Lumo(0));
    EXPECT_EQ(6u, s.requests);
    EXPECT_EQ(1u, s.max_in_flight);
}

TEST_F(ControlDevice, DelayedRequestEndsWithItsHandle) {
    Handle h = OpenDevice(Lumo(0));
    ASSERT_TRUE(control.Delay(Lumo(0), 20000).ok);
    PendingRead read(h.get(), 1);
    ASSERT_TRUE(control.WaitFor(Lumo(0), [](const TarnUsbDeviceStatus &s) { return s.in_flight == 1; }));
    ASSERT_TRUE(CancelIoEx(h.get(), nullptr));
    ASSERT_TRUE(read.Finished(5000));
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), read.result().error);
    EXPECT_EQ(0u, control.Status(Lumo(0)).in_flight);
}

TEST_F(ControlDevice, DelayedRequestEndsWhenItsHandleCloses) {
    Handle h = OpenDevice(Lumo(0));
    HANDLE raw = h.get();
    ASSERT_TRUE(control.Delay(Lumo(0), 20000).ok);
    BlockingCall call(raw, [raw] { return VendorWrite(raw, 1, {1}); });
    ASSERT_TRUE(control.WaitFor(Lumo(0), [](const TarnUsbDeviceStatus &s) { return s.in_flight == 1; }));
    h.reset();
    ASSERT_TRUE(call.Finished(5000));
    EXPECT_FALSE(call.result().ok);
    TarnUsbDeviceStatus s = control.Status(Lumo(0));
    EXPECT_EQ(0u, s.in_flight);
    EXPECT_EQ(0u, s.open_handles);
    Handle again = OpenDevice(Lumo(0));
    Bytes reg(1, 0xCC);
    VendorRead(again.get(), 1, reg);
    EXPECT_EQ(0, reg[0]) << "the write was never carried out";
}

TEST_F(ControlDevice, StatusCountsAndResets) {
    Handle a = OpenDevice(Q0215(0)), b = OpenDevice(Q0215(0));
    ASSERT_TRUE(VendorWrite(a.get(), 1, {}).ok);
    ASSERT_TRUE(LockRequest(b.get(), TARN_USB_LOCK, 4).ok);
    TarnUsbDeviceStatus s = control.Status(Q0215(0));
    EXPECT_EQ(TARN_USB_KIND_Q0215, s.device.kind);
    EXPECT_EQ(1, s.plugged);
    EXPECT_EQ(2u, s.open_handles);
    EXPECT_EQ(2u, s.requests);
    EXPECT_EQ(1u, s.max_in_flight);
    EXPECT_NE(0u, s.lock_holders[4]);
    ASSERT_TRUE(control.Reset(Q0215(0)).ok);
    s = control.Status(Q0215(0));
    EXPECT_EQ(0u, s.requests);
    EXPECT_EQ(0u, s.max_in_flight);
    EXPECT_NE(0u, s.lock_holders[4]) << "reset leaves the device's state alone";
}

TEST_F(ControlDevice, ListsEveryDeviceAndRefusesUnknownOnes) {
    TarnUsbDeviceStatus all[2 * 16];
    Result r = control.Raw(TARN_USB_CONTROL_LIST, nullptr, 0, all, sizeof all);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(0u, r.bytes % sizeof(TarnUsbDeviceStatus));
    size_t count = r.bytes / sizeof(TarnUsbDeviceStatus);
    EXPECT_GE(count, 4u);
    bool sawQ02151 = false;
    for (size_t i = 0; i < count; ++i)
        sawQ02151 |= all[i].device.kind == TARN_USB_KIND_Q0215 && all[i].device.number == 1;
    EXPECT_TRUE(sawQ02151);

    TarnUsbDeviceId nowhere = Lumo(99);
    TarnUsbDeviceStatus s;
    EXPECT_FALSE(control.Raw(TARN_USB_CONTROL_GET_STATUS, &nowhere, sizeof nowhere, &s, sizeof s).ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              control.Raw(TARN_USB_CONTROL_DELAY, &nowhere, sizeof nowhere - 1, nullptr, 0).error);
    TarnUsbDelay shortDelay{Lumo(0), 1, 1};
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              control.Raw(TARN_USB_CONTROL_DELAY, &shortDelay, sizeof shortDelay - 1, nullptr, 0).error);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION),
              control.Raw(TARN_USB_VENDOR_WRITE, &shortDelay, sizeof shortDelay, nullptr, 0).error);
}

}  // namespace
