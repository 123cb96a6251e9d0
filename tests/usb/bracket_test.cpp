// The request bracket: the device mutex serialises every user of one device,
// no wait for it lasts much beyond a second, a long wait before a main-endpoint
// read beeps, and only the data operations run at time-critical priority.
#include "usb/usb_driver_fixture.h"

#include <atomic>
#include <string>

namespace tarn::test {
namespace {

constexpr wchar_t kLumo0Mutex[] = L"LumoUsbIF__Mutex_LUMO0";

class UsbRequestBracket : public UsbDeviceTest {
protected:
    // The priority of the calling thread sampled while its next request is held by the device.
    class PrioritySampler {
    public:
        explicit PrioritySampler(usbtest::Control& control) : control_(control) {
            ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &caller_,
                              THREAD_QUERY_INFORMATION, FALSE, 0);
            control_.Delay(kLumo0, 400, 1);
            thread_ = ::CreateThread(nullptr, 0, Run, this, 0, nullptr);
        }
        // The priority seen while the request was in flight (THREAD_PRIORITY_ERROR_RETURN if never seen).
        int Seen() {
            ::WaitForSingleObject(thread_, 10000);
            return seen_;
        }
        ~PrioritySampler() {
            ::WaitForSingleObject(thread_, 10000);
            ::CloseHandle(thread_);
            ::CloseHandle(caller_);
        }

    private:
        static DWORD WINAPI Run(void* self) {
            auto* sampler = static_cast<PrioritySampler*>(self);
            if (sampler->control_.WaitFor(kLumo0, [](const TarnUsbDeviceStatus& s) { return s.in_flight > 0; }))
                sampler->seen_ = ::GetThreadPriority(sampler->caller_);
            return 0;
        }
        usbtest::Control& control_;
        HANDLE caller_ = nullptr;
        HANDLE thread_ = nullptr;
        int seen_ = THREAD_PRIORITY_ERROR_RETURN;
    };
};

TEST_F(UsbRequestBracket, OnlyDataOperationsRunTimeCritical) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    ByteArray bytes({1, 2, 3, 4});
    Variant read;
    long key = 0;
    VARIANT_BOOL locked = 0;
    struct Operation {
        const char* name;
        std::function<HRESULT()> call;
        int during;
    } operations[] = {
        {"VendorRequestWrite", [&] { return usb->VendorRequestWrite(1, 0, 0, Variant()); },
         THREAD_PRIORITY_TIME_CRITICAL},
        {"VendorRequestRead", [&] { ::VariantClear(&read); return usb->VendorRequestRead(1, 0, 0, 2, &read); },
         THREAD_PRIORITY_TIME_CRITICAL},
        {"WriteMainEndpoint", [&] { return usb->WriteMainEndpoint(4, bytes.address()); },
         THREAD_PRIORITY_TIME_CRITICAL},
        {"ReadMainEndpoint", [&] { return usb->ReadMainEndpoint(4, bytes.address()); },
         THREAD_PRIORITY_TIME_CRITICAL},
        {"ResetMainEndpointIn", [&] { return usb->ResetMainEndpointIn(); }, THREAD_PRIORITY_BELOW_NORMAL},
        {"LockDevice", [&] { return usb->LockDevice(etnltOrsa, &key); }, THREAD_PRIORITY_BELOW_NORMAL},
        {"Lock", [&] { return usb->get_Lock(etnltOrsa, &locked); }, THREAD_PRIORITY_BELOW_NORMAL},
        {"UnlockDevice", [&] { return usb->UnlockDevice(etnltOrsa, key); }, THREAD_PRIORITY_BELOW_NORMAL},
    };
    // An unusual starting priority shows that the one found is put back, not just "normal".
    ASSERT_TRUE(::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL));
    for (const Operation& operation : operations) {
        PrioritySampler sampler(control_);
        EXPECT_EQ(operation.call(), S_OK) << operation.name;
        EXPECT_EQ(sampler.Seen(), operation.during) << operation.name << ": priority during the request";
        EXPECT_EQ(::GetThreadPriority(::GetCurrentThread()), THREAD_PRIORITY_BELOW_NORMAL)
            << operation.name << ": priority afterwards";
    }
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_NORMAL);
}

TEST_F(UsbRequestBracket, WaitForTheMutexEndsAfterAboutASecondAndTheRequestGoesOut) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    double elapsed = 0;
    {
        MutexHolder holder(kLumo0Mutex, 4000);
        Stopwatch clock;
        EXPECT_EQ(usb->VendorRequestWrite(5, 0, 0, Variant()), S_OK);
        elapsed = clock.Ms();
    }
    EXPECT_GT(elapsed, 900.0);
    EXPECT_LT(elapsed, 3000.0) << "waited for the holder instead of giving up after 1000 ms";
    EXPECT_EQ(NewRequests().size(), 1u) << "made without the mutex after the time-out";
}

TEST_F(UsbRequestBracket, LongWaitBeforeAReadBeepsOnce) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    BeepCounter beeps;
    ByteArray bytes({1, 2});
    ASSERT_EQ(usb->WriteMainEndpoint(2, bytes.address()), S_OK);
    ASSERT_EQ(usb->ReadMainEndpoint(2, bytes.address()), S_OK);
    EXPECT_EQ(beeps.Take(), 0) << "no wait, no beep";

    ASSERT_EQ(usb->WriteMainEndpoint(2, bytes.address()), S_OK);
    {
        MutexHolder holder(kLumo0Mutex, 400);
        EXPECT_EQ(usb->ReadMainEndpoint(2, bytes.address()), S_OK);
    }
    EXPECT_EQ(beeps.Take(), 1);

    {
        MutexHolder holder(kLumo0Mutex, 400);
        EXPECT_EQ(usb->WriteMainEndpoint(2, bytes.address()), S_OK);
    }
    EXPECT_EQ(beeps.Take(), 0) << "only reads are marked";
}

// Hammers LUMO0 through one object with vendor writes; counts failures.
void Hammer(int requests, std::atomic<int>& failures) {
    ComPtr<IUsbDriver> usb = NewUsbDriver();
    VARIANT_BOOL opened = 0;
    if (!usb || usb->Open(etndevLumo, 0, &opened) != S_OK) {
        failures += requests;
        return;
    }
    for (int i = 0; i < requests; ++i)
        if (usb->VendorRequestWrite(static_cast<BYTE>(i), 0, 0, Variant()) != S_OK) ++failures;
}

TEST_F(UsbRequestBracket, StandInCountsOverlapWithoutTheMutex) {
    // Shows the measure below can fail: two raw handles do overlap.
    control_.Delay(kLumo0, 20, 40);
    std::atomic<int> done{0};
    auto raw = [&] {
        usbtest::Handle device = usbtest::OpenDevice(kLumo0);
        for (int i = 0; i < 20; ++i) usbtest::VendorWrite(device.get(), 1, {});
        ++done;
    };
    RunTogether(raw, raw);
    EXPECT_EQ(done, 2);
    EXPECT_GE(control_.Status(kLumo0).max_in_flight, 2u);
}

TEST_F(UsbRequestBracket, MutexSerialisesObjectsOfOneProcess) {
    control_.Delay(kLumo0, 3, 80);
    std::atomic<int> failures{0};
    auto hammer = [&] { Hammer(40, failures); };
    RunTogether(hammer, hammer);
    EXPECT_EQ(failures, 0);
    const TarnUsbDeviceStatus status = control_.Status(kLumo0);
    EXPECT_EQ(status.requests, 80u);
    EXPECT_EQ(status.max_in_flight, 1u);
}

TEST_F(UsbRequestBracket, MutexSerialisesTwoProcesses) {
    control_.Delay(kLumo0, 3, 80);
    std::wstring command = L"\"" + ProgramFolder() + L"usb_hammer.exe\" 40";
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &process))
        << "usb_hammer.exe missing beside the test";
    // Start hammering once the other process has begun.
    control_.WaitFor(kLumo0, [](const TarnUsbDeviceStatus& s) { return s.requests > 0; }, 10000);
    std::atomic<int> failures{0};
    RunOnNewThread([&] { Hammer(40, failures); });
    ASSERT_EQ(::WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    EXPECT_EQ(exitCode, 0u) << "the other process's requests failed";
    EXPECT_EQ(failures, 0);
    const TarnUsbDeviceStatus status = control_.Status(kLumo0);
    EXPECT_EQ(status.requests, 80u);
    EXPECT_EQ(status.max_in_flight, 1u);
}

}  // namespace
}  // namespace tarn::test
