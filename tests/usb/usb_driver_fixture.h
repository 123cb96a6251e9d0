#pragma once
// What the UsbDriver suites share: objects made by ProgID, byte arrays, the
// stand-in device's control (its request log and counters), a thread that holds
// a device mutex for a while, and the process's beep observer.
#include <windows.h>

#include <functional>
#include <vector>

#include "common/com_test_support.h"
#include "usb_test_support.h"  // the stand-in's control client

namespace tarn::test {

constexpr wchar_t kUsbProgId[] = L"TarnDriver.UsbDriver";

inline ComPtr<IUsbDriver> NewUsbDriver() { return CreateByProgId<IUsbDriver>(kUsbProgId); }

// A one-dimensional array of unsigned bytes that destroys itself.
class ByteArray {
public:
    explicit ByteArray(const std::vector<BYTE>& bytes, LONG lowerBound = 0);
    ~ByteArray();
    ByteArray(const ByteArray&) = delete;
    ByteArray& operator=(const ByteArray&) = delete;

    SAFEARRAY* get() const { return array_; }
    SAFEARRAY** address() { return &array_; }
    std::vector<BYTE> Bytes() const;  // all elements, in order
    ULONG Elements() const;

private:
    SAFEARRAY* array_ = nullptr;
};

// The bytes of an array handed out in a VARIANT (lower bound and count checked by the caller).
std::vector<BYTE> BytesOf(SAFEARRAY* array);

// Holds the named mutex on its own thread from construction for `milliseconds`.
class MutexHolder {
public:
    MutexHolder(const wchar_t* name, DWORD milliseconds);
    ~MutexHolder();  // waits for the release
    MutexHolder(const MutexHolder&) = delete;
    MutexHolder& operator=(const MutexHolder&) = delete;

private:
    static DWORD WINAPI Run(void* self);
    std::wstring name_;
    DWORD milliseconds_;
    HANDLE taken_ = nullptr;
    HANDLE thread_ = nullptr;
};

// Counts the beeps this process sounds, through the library's beep-observer semaphore.
class BeepCounter {
public:
    BeepCounter();
    ~BeepCounter();
    int Take();  // beeps since the last Take

private:
    HANDLE semaphore_ = nullptr;
};

// Runs `work` on a new thread that joins the multithreaded apartment; returns when it ends.
void RunOnNewThread(std::function<void()> work);
// Runs both at once, each on a new thread as above; returns when both have ended.
void RunTogether(std::function<void()> first, std::function<void()> second);

// A fixture for the device-backed suites: the stand-in's control device, and
// LUMO0 fresh (replugged, counters zero) for each test.
class UsbDeviceTest : public ComTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Log entries of requests that arrived since the test started (or since MarkLog).
    std::vector<TarnUsbLogEntry> NewRequests();
    void MarkLog() { logMark_ = control_.NextSequence() - 1; }
    ComPtr<IUsbDriver> OpenLumo0();

    usbtest::Control control_;
    static constexpr TarnUsbDeviceId kLumo0 = usbtest::Lumo(0);

private:
    uint32_t logMark_ = 0;
};

}  // namespace tarn::test
