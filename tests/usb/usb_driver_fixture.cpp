#include "usb/usb_driver_fixture.h"

#include <cstring>

namespace tarn::test {

ByteArray::ByteArray(const std::vector<BYTE>& bytes, LONG lowerBound) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(bytes.size()), lowerBound};
    array_ = ::SafeArrayCreate(VT_UI1, 1, &bound);
    void* data = nullptr;
    if (array_ && SUCCEEDED(::SafeArrayAccessData(array_, &data))) {
        if (!bytes.empty()) memcpy(data, bytes.data(), bytes.size());
        ::SafeArrayUnaccessData(array_);
    }
}

ByteArray::~ByteArray() {
    if (array_) EXPECT_HRESULT_SUCCEEDED(::SafeArrayDestroy(array_)) << "the array is left locked";
}

std::vector<BYTE> ByteArray::Bytes() const { return BytesOf(array_); }
ULONG ByteArray::Elements() const { return array_ ? array_->rgsabound[0].cElements : 0; }

std::vector<BYTE> BytesOf(SAFEARRAY* array) {
    if (!array) return {};
    LONG lower = 0, upper = -1;
    ::SafeArrayGetLBound(array, 1, &lower);
    ::SafeArrayGetUBound(array, 1, &upper);
    // Modulo 2^32: exact also for lower bounds at the limits.
    std::vector<BYTE> bytes(static_cast<ULONG>(upper) - static_cast<ULONG>(lower) + 1u);
    void* data = nullptr;
    if (!bytes.empty() && SUCCEEDED(::SafeArrayAccessData(array, &data))) {
        memcpy(bytes.data(), data, bytes.size());
        ::SafeArrayUnaccessData(array);
    }
    return bytes;
}

MutexHolder::MutexHolder(const wchar_t* name, DWORD milliseconds)
    : name_(name), milliseconds_(milliseconds) {
    taken_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = ::CreateThread(nullptr, 0, Run, this, 0, nullptr);
    EXPECT_EQ(::WaitForSingleObject(taken_, 5000), WAIT_OBJECT_0) << "the holder never took the mutex";
}

MutexHolder::~MutexHolder() {
    ::WaitForSingleObject(thread_, 10000);
    ::CloseHandle(thread_);
    ::CloseHandle(taken_);
}

DWORD WINAPI MutexHolder::Run(void* self) {
    auto* holder = static_cast<MutexHolder*>(self);
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, holder->name_.c_str());
    const DWORD outcome = ::WaitForSingleObject(mutex, 5000);
    ::SetEvent(holder->taken_);
    if (outcome == WAIT_OBJECT_0 || outcome == WAIT_ABANDONED) {
        ::Sleep(holder->milliseconds_);
        ::ReleaseMutex(mutex);
    }
    ::CloseHandle(mutex);
    return 0;
}

BeepCounter::BeepCounter() {
    wchar_t name[64];
    wsprintfW(name, L"Local\\TarnDriver.UsbWaitBeeps.%lu", ::GetCurrentProcessId());
    semaphore_ = ::CreateSemaphoreW(nullptr, 0, 1000, name);
}

BeepCounter::~BeepCounter() { ::CloseHandle(semaphore_); }

int BeepCounter::Take() {
    int count = 0;
    while (::WaitForSingleObject(semaphore_, 0) == WAIT_OBJECT_0) ++count;
    return count;
}

namespace {
DWORD WINAPI RunInMultithreadedApartment(void* work) {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    (*static_cast<std::function<void()>*>(work))();
    ::CoUninitialize();
    return 0;
}
}  // namespace

void RunTogether(std::function<void()> first, std::function<void()> second) {
    HANDLE threads[2] = {::CreateThread(nullptr, 0, RunInMultithreadedApartment, &first, 0, nullptr),
                         second ? ::CreateThread(nullptr, 0, RunInMultithreadedApartment, &second, 0, nullptr)
                                : nullptr};
    for (HANDLE thread : threads) {
        if (!thread) continue;
        EXPECT_EQ(::WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
        ::CloseHandle(thread);
    }
}

void RunOnNewThread(std::function<void()> work) { RunTogether(std::move(work), nullptr); }

void UsbDeviceTest::SetUp() {
    ComTest::SetUp();
    ASSERT_TRUE(control_.open()) << "the USB stand-in is not running";
    control_.Restart(kLumo0);
    MarkLog();
}

void UsbDeviceTest::TearDown() {
    control_.Reset(kLumo0);
    ComTest::TearDown();
}

std::vector<TarnUsbLogEntry> UsbDeviceTest::NewRequests() { return control_.Log(logMark_); }

ComPtr<IUsbDriver> UsbDeviceTest::OpenLumo0() {
    ComPtr<IUsbDriver> usb = NewUsbDriver();
    VARIANT_BOOL opened = 0;
    EXPECT_TRUE(usb);
    if (usb) EXPECT_EQ(usb->Open(etndevLumo, 0, &opened), S_OK);
    EXPECT_EQ(opened, 1);
    return usb;
}

}  // namespace tarn::test
