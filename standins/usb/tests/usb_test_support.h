// Plain Win32 clients of the USB stand-in, as its tests use them: device handles
// opened the way the library opens them (synchronous, share mode 0), and the
// control device.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "usb_control.h"
#include "common/stopwatch.h"
#include "platform/unique_handle.h"

namespace usbtest {

// Each handle is closed once, by its owner.
using Handle = tarn::UniqueFileHandle;
using Bytes = std::vector<uint8_t>;
using tarn::test::Stopwatch;

// The outcome of one request: the call's result, its error code and the bytes returned.
struct Result {
    bool ok;
    DWORD error;
    DWORD bytes;
};

constexpr TarnUsbDeviceId Lumo(int n) { return {TARN_USB_KIND_LUMO, static_cast<int16_t>(n)}; }
constexpr TarnUsbDeviceId Q0215(int n) { return {TARN_USB_KIND_Q0215, static_cast<int16_t>(n)}; }
std::wstring DevicePath(TarnUsbDeviceId id);

Handle OpenDevice(TarnUsbDeviceId id);
Result Ioctl(HANDLE h, uint32_t code, const void *in, DWORD in_length, void *out, DWORD out_length);

// The request block followed by data, as a vendor write sends it.
Bytes VendorBlock(uint8_t request, int16_t param1, int16_t param2, const Bytes &data = {});
Result VendorWrite(HANDLE h, uint8_t request, const Bytes &data, int16_t p1 = 0, int16_t p2 = 0);
Result VendorRead(HANDLE h, uint8_t request, Bytes &data, int16_t p1 = 0, int16_t p2 = 0);
Result LockRequest(HANDLE h, uint32_t code, uint8_t type);
// The answer byte of a lock query, or -1 if the query failed.
int QueryLock(HANDLE h, uint8_t type);
Result WriteBulk(HANDLE h, const Bytes &data);

// A synchronous request on its own thread, as a client blocked in a call.  If
// the call has not returned by the end, its I/O on `device` is cancelled.
class BlockingCall {
public:
    BlockingCall(HANDLE device, std::function<Result()> call);
    ~BlockingCall();
    // Waits up to `ms` for the call to return.
    bool Finished(DWORD ms);
    Result result() const { return result_; }

private:
    static DWORD WINAPI Run(void *self);
    HANDLE device_;
    std::function<Result()> call_;
    Result result_{};
    Handle thread_;
};

// A synchronous ReadFile of `length` bytes on its own thread.
class PendingRead {
public:
    PendingRead(HANDLE device, DWORD length);
    bool Finished(DWORD ms) { return call_.Finished(ms); }
    Result result() const { return call_.result(); }
    const Bytes &data() const { return data_; }

private:
    Bytes data_;
    BlockingCall call_;
};

class Control {
public:
    Control();
    bool open() const { return handle_.valid(); }

    TarnUsbDeviceStatus Status(TarnUsbDeviceId id);
    std::vector<TarnUsbLogEntry> Log(uint32_t after_sequence = 0);
    uint32_t NextSequence();
    void ClearLog();
    // Fresh device: replugged (registers, loopback and locks gone), counters zero.
    void Restart(TarnUsbDeviceId id);
    Result Reset(TarnUsbDeviceId id);
    Result Fail(TarnUsbDeviceId id, uint32_t code, uint32_t count, int32_t status = 0);
    Result Delay(TarnUsbDeviceId id, uint32_t milliseconds, uint32_t count = 1);
    Result ShortRead(TarnUsbDeviceId id, uint32_t bytes);
    Result Plug(TarnUsbDeviceId id, bool plugged);
    Result Raw(uint32_t code, const void *in, DWORD in_length, void *out, DWORD out_length);

    // Polls the status until `done` holds, for at most `ms`.
    template <typename Pred>
    bool WaitFor(TarnUsbDeviceId id, Pred done, DWORD ms = 5000) {
        for (DWORD waited = 0;; waited += 10) {
            if (done(Status(id))) return true;
            if (waited >= ms) return false;
            Sleep(10);
        }
    }

private:
    Handle handle_;
};

// This program's folder, to find the helpers built beside it.
std::wstring ProgramFolder();

// Each test starts from freshly replugged devices: no registers, loopback
// bytes, locks, armed failures or counters left from an earlier test.
class FreshDevices : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(control.open()) << "the USB stand-in is not running (standins/service.sh start)";
        for (auto id : {Lumo(0), Lumo(1), Q0215(0)}) control.Restart(id);
    }
    Control control;
};

}  // namespace usbtest
