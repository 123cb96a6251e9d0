// Device locks belong to the handle that took them and end with it.
#include "usb_test_support.h"

#include <string>

using namespace usbtest;

namespace {

class Locks : public FreshDevices {};

TEST_F(Locks, ALockHeldByOneHandleIsRefusedToAnother) {
    Handle a = OpenDevice(Lumo(0)), b = OpenDevice(Lumo(0));
    ASSERT_TRUE(a.valid() && b.valid()) << "several handles of one device may be open";

    ASSERT_TRUE(LockRequest(a.get(), TARN_USB_LOCK, 3).ok);
    EXPECT_EQ(TARN_USB_LOCK_HELD_BY_YOU, QueryLock(a.get(), 3));
    EXPECT_EQ(TARN_USB_LOCK_HELD_BY_OTHER, QueryLock(b.get(), 3));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BUSY), LockRequest(b.get(), TARN_USB_LOCK, 3).error);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), LockRequest(b.get(), TARN_USB_UNLOCK, 3).error);
    EXPECT_TRUE(LockRequest(a.get(), TARN_USB_LOCK, 3).ok) << "the holder may lock again";

    ASSERT_TRUE(LockRequest(a.get(), TARN_USB_UNLOCK, 3).ok);
    EXPECT_EQ(TARN_USB_LOCK_FREE, QueryLock(b.get(), 3));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_LOCKED), LockRequest(a.get(), TARN_USB_UNLOCK, 3).error);
    EXPECT_TRUE(LockRequest(b.get(), TARN_USB_LOCK, 3).ok);
}

TEST_F(Locks, TypesAndDevicesAreIndependent) {
    Handle a = OpenDevice(Lumo(0)), b = OpenDevice(Lumo(0)), other = OpenDevice(Lumo(1));
    for (uint8_t type = 0; type < TARN_USB_LOCK_TYPES; ++type) {
        Handle &holder = type % 2 ? b : a;
        ASSERT_TRUE(LockRequest(holder.get(), TARN_USB_LOCK, type).ok) << int(type);
    }
    for (uint8_t type = 0; type < TARN_USB_LOCK_TYPES; ++type) {
        EXPECT_EQ(type % 2 ? TARN_USB_LOCK_HELD_BY_OTHER : TARN_USB_LOCK_HELD_BY_YOU, QueryLock(a.get(), type));
        EXPECT_TRUE(LockRequest(other.get(), TARN_USB_LOCK, type).ok) << "LUMO1 has its own locks";
    }
    TarnUsbDeviceStatus s = control.Status(Lumo(0));
    EXPECT_NE(s.lock_holders[0], s.lock_holders[1]);
    EXPECT_EQ(s.lock_holders[0], s.lock_holders[6]);
    EXPECT_EQ(s.lock_holders[1], s.lock_holders[7]);
}

TEST_F(Locks, ClosingTheHolderEndsItsLocksOnly) {
    Handle a = OpenDevice(Lumo(0)), b = OpenDevice(Lumo(0));
    ASSERT_TRUE(LockRequest(a.get(), TARN_USB_LOCK, 5).ok);
    ASSERT_TRUE(LockRequest(b.get(), TARN_USB_LOCK, 6).ok);
    a.reset();
    EXPECT_EQ(TARN_USB_LOCK_FREE, QueryLock(b.get(), 5));
    EXPECT_EQ(TARN_USB_LOCK_HELD_BY_YOU, QueryLock(b.get(), 6));
    Handle c = OpenDevice(Lumo(0));
    EXPECT_TRUE(LockRequest(c.get(), TARN_USB_LOCK, 5).ok);
    EXPECT_EQ(2u, control.Status(Lumo(0)).open_handles);
}

// A second process holds the lock; it ends when that process does.
TEST_F(Locks, LocksWorkAcrossProcesses) {
    std::wstring ready = L"TarnUsbTestReady" + std::to_wstring(GetCurrentProcessId());
    std::wstring release = L"TarnUsbTestRelease" + std::to_wstring(GetCurrentProcessId());
    Handle readyEvent(CreateEventW(nullptr, TRUE, FALSE, ready.c_str()));
    Handle releaseEvent(CreateEventW(nullptr, TRUE, FALSE, release.c_str()));
    std::wstring command = L"\"" + ProgramFolder() + L"usb_lock_holder.exe\" " + DevicePath(Q0215(0)) + L" 2 " +
                           ready + L" " + release;
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
    Handle processHandle(process.hProcess), threadHandle(process.hThread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(readyEvent.get(), 10000));

    Handle mine = OpenDevice(Q0215(0));
    ASSERT_TRUE(mine.valid());
    EXPECT_EQ(TARN_USB_LOCK_HELD_BY_OTHER, QueryLock(mine.get(), 2));
    EXPECT_FALSE(LockRequest(mine.get(), TARN_USB_LOCK, 2).ok);
    EXPECT_FALSE(LockRequest(mine.get(), TARN_USB_UNLOCK, 2).ok);
    EXPECT_TRUE(LockRequest(mine.get(), TARN_USB_LOCK, 1).ok) << "other types stay free";

    SetEvent(releaseEvent.get());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(processHandle.get(), 10000));
    DWORD exitCode = 99;
    GetExitCodeProcess(processHandle.get(), &exitCode);
    EXPECT_EQ(0u, exitCode) << "the helper's lock was granted";
    EXPECT_TRUE(control.WaitFor(Q0215(0), [](const TarnUsbDeviceStatus &s) { return s.lock_holders[2] == 0; }));
    EXPECT_TRUE(LockRequest(mine.get(), TARN_USB_LOCK, 2).ok);
}

}  // namespace
