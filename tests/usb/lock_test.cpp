// Device locks: granted and refused by the device, keys from the per-thread
// generator, and unlocking with any key but 0.
#include "usb/usb_driver_fixture.h"

#include <cstdint>

namespace tarn::test {
namespace {

class UsbLocks : public UsbDeviceTest {
protected:
    size_t RequestsWithCode(uint32_t code) {
        size_t count = 0;
        for (const TarnUsbLogEntry& entry : NewRequests()) count += entry.code == code;
        return count;
    }
};

// The keys a fresh thread receives: state 1, times 214013 plus 2531011, bits 16 to 30; 0 skipped.
std::vector<long> ExpectedKeys(size_t count) {
    std::vector<long> keys;
    uint32_t state = 1;
    while (keys.size() < count) {
        state = state * 214013u + 2531011u;
        const long key = static_cast<long>((state >> 16) & 0x7FFF);
        if (key != 0) keys.push_back(key);
    }
    return keys;
}

TEST_F(UsbLocks, GrantedHeldAndReleased) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    VARIANT_BOOL locked = 7;
    ASSERT_EQ(usb->get_Lock(etnltPlayback, &locked), S_OK);
    EXPECT_EQ(locked, 0);
    long key = 0;
    ASSERT_EQ(usb->LockDevice(etnltPlayback, &key), S_OK);
    EXPECT_NE(key, 0);
    EXPECT_NE(control_.Status(kLumo0).lock_holders[etnltPlayback], 0u);
    ASSERT_EQ(usb->get_Lock(etnltPlayback, &locked), S_OK);
    EXPECT_EQ(locked, 1) << "held by this object reads 1, not -1";
    EXPECT_EQ(usb->UnlockDevice(etnltPlayback, key), S_OK);
    ASSERT_EQ(usb->get_Lock(etnltPlayback, &locked), S_OK);
    EXPECT_EQ(locked, 0);
}

TEST_F(UsbLocks, RefusedWhileAnotherHandleHoldsIt) {
    ComPtr<IUsbDriver> first = OpenLumo0();
    ComPtr<IUsbDriver> second = OpenLumo0();
    long key = 0;
    ASSERT_EQ(first->LockDevice(etnltRecording, &key), S_OK);
    long refused = 99;
    EXPECT_EQ(second->LockDevice(etnltRecording, &refused), E_FAIL);
    EXPECT_EQ(refused, 0);
    VARIANT_BOOL locked = 0;
    EXPECT_EQ(second->get_Lock(etnltRecording, &locked), S_OK);
    EXPECT_EQ(locked, 1);
    EXPECT_EQ(second->UnlockDevice(etnltRecording, 1), E_FAIL) << "the device refuses: not its lock";
    EXPECT_EQ(first->UnlockDevice(etnltRecording, 31337), S_OK) << "any key but 0 unlocks";
}

TEST_F(UsbLocks, FailedQueryReadsLocked) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    control_.Fail(kLumo0, TARN_USB_QUERY_LOCK, 1);
    VARIANT_BOOL locked = 0;
    EXPECT_EQ(usb->get_Lock(etnltOrsa, &locked), S_OK);
    EXPECT_EQ(locked, 1);
}

TEST_F(UsbLocks, UnlockWithKeyZeroSendsNothingButTakesItsTurnAtTheMutex) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    long key = 0;
    ASSERT_EQ(usb->LockDevice(etnltFrontend, &key), S_OK);
    MarkLog();
    double elapsed = 0;
    {
        MutexHolder holder(L"LumoUsbIF__Mutex_LUMO0", 300);
        Stopwatch clock;
        EXPECT_EQ(usb->UnlockDevice(etnltFrontend, 0), E_FAIL);
        elapsed = clock.Ms();
    }
    EXPECT_GT(elapsed, 200.0) << "it waited for the device mutex";
    EXPECT_TRUE(NewRequests().empty());
    EXPECT_NE(control_.Status(kLumo0).lock_holders[etnltFrontend], 0u) << "still locked";
}

TEST_F(UsbLocks, TypeIsSentAsItsLowByte) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    long key = 0;
    EXPECT_EQ(usb->LockDevice(static_cast<ETNLockType>(257), &key), S_OK);
    std::vector<TarnUsbLogEntry> log = NewRequests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].code, TARN_USB_LOCK);
    ASSERT_EQ(log[0].data_length, 1u);
    EXPECT_EQ(log[0].data[0], 1);
    EXPECT_NE(control_.Status(kLumo0).lock_holders[1], 0u);
}

TEST_F(UsbLocks, CloseAndDestructionSendNoUnlock) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    long key = 0;
    ASSERT_EQ(usb->LockDevice(etnltSyncPlayRec, &key), S_OK);
    EXPECT_EQ(usb->Close(), S_OK);
    ComPtr<IUsbDriver> other = OpenLumo0();
    ASSERT_EQ(other->LockDevice(etnltPlayAndRec, &key), S_OK);
    other.reset();
    EXPECT_EQ(RequestsWithCode(TARN_USB_UNLOCK), 0u);
}

TEST_F(UsbLocks, KeysFollowTheGeneratorAndEachThreadStartsAfresh) {
    const std::vector<long> expected = ExpectedKeys(6);
    auto keysOfANewThread = [](size_t count) {
        std::vector<long> keys;
        RunOnNewThread([&] {
            ComPtr<IUsbDriver> usb = NewUsbDriver();
            VARIANT_BOOL opened = 0;
            if (!usb || usb->Open(etndevLumo, 0, &opened) != S_OK) return;
            for (size_t i = 0; i < count; ++i) {
                long key = 0;
                if (usb->LockDevice(etnltRemoteControl, &key) != S_OK) return;
                keys.push_back(key);
                usb->UnlockDevice(etnltRemoteControl, key);
            }
            long refused = 0;
            usb->Close();
            usb->LockDevice(etnltRemoteControl, &refused);  // a refused lock draws no key
            usb->Open(etndevLumo, 0, &opened);
            long next = 0;
            usb->LockDevice(etnltRemoteControl, &next);
            keys.push_back(next);
            usb->UnlockDevice(etnltRemoteControl, next);
        });
        return keys;
    };
    EXPECT_EQ(keysOfANewThread(5), expected);
    EXPECT_EQ(keysOfANewThread(2), (std::vector<long>{expected[0], expected[1], expected[2]}));
}

}  // namespace
}  // namespace tarn::test
