// Opening and closing: device and mutex names, the kinds, the success flag,
// and what a closed object answers without ever reaching a device.
#include "usb/usb_driver_fixture.h"

namespace tarn::test {
namespace {

class UsbConnection : public ComTest {};

bool MutexExists(const wchar_t* name) {
    HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, name);
    if (!mutex) return false;
    ::CloseHandle(mutex);
    return true;
}

TEST_F(UsbConnection, FailedOpenKeepsTheNamedMutexUntilClose) {
    ComPtr<IUsbDriver> usb = NewUsbDriver();
    ASSERT_TRUE(usb);
    struct Case {
        ETNDevice kind;
        short number;
        const wchar_t* mutex;
    } cases[] = {
        {etndevLumo, 9, L"LumoUsbIF__Mutex_LUMO9"},
        {etndevPira, 3, L"LumoUsbIF__Mutex_Q02153"},
        {etndevLumo, -1, L"LumoUsbIF__Mutex_LUMO-1"},
        {etndevPira, -32768, L"LumoUsbIF__Mutex_Q0215-32768"},
    };
    for (const Case& c : cases) {
        ASSERT_FALSE(MutexExists(c.mutex)) << c.mutex;
        VARIANT_BOOL opened = 7;
        EXPECT_EQ(usb->Open(c.kind, c.number, &opened), E_FAIL) << c.mutex << ": no such device";
        EXPECT_EQ(opened, 0);
        EXPECT_TRUE(MutexExists(c.mutex)) << c.mutex;
        EXPECT_EQ(usb->Close(), S_OK);
        EXPECT_FALSE(MutexExists(c.mutex)) << c.mutex << " outlives Close";
    }
}

TEST_F(UsbConnection, ReopeningReleasesTheEarlierMutex) {
    ComPtr<IUsbDriver> usb = NewUsbDriver();
    VARIANT_BOOL opened = 0;
    usb->Open(etndevLumo, 11, &opened);
    usb->Open(etndevLumo, 12, &opened);
    EXPECT_FALSE(MutexExists(L"LumoUsbIF__Mutex_LUMO11")) << "the first Open's mutex leaked";
    EXPECT_TRUE(MutexExists(L"LumoUsbIF__Mutex_LUMO12"));
    usb.reset();
    EXPECT_FALSE(MutexExists(L"LumoUsbIF__Mutex_LUMO12")) << "destruction closes the mutex";
}

TEST_F(UsbConnection, KindOutsideTheEnumerationCreatesNothing) {
    ComPtr<IUsbDriver> usb = NewUsbDriver();
    VARIANT_BOOL opened = 0;
    usb->Open(etndevLumo, 21, &opened);
    ASSERT_TRUE(MutexExists(L"LumoUsbIF__Mutex_LUMO21"));
    for (int kind : {2, -1, 0x100}) {
        opened = 7;
        EXPECT_EQ(usb->Open(static_cast<ETNDevice>(kind), 21, &opened), E_FAIL);
        EXPECT_EQ(opened, 0);
    }
    EXPECT_TRUE(MutexExists(L"LumoUsbIF__Mutex_LUMO21")) << "what the object held stays";
}

TEST_F(UsbConnection, NullOutPointersAnswerEPointerAndDoNothing) {
    ComPtr<IUsbDriver> usb = NewUsbDriver();
    EXPECT_EQ(usb->Open(etndevLumo, 22, nullptr), E_POINTER);
    EXPECT_FALSE(MutexExists(L"LumoUsbIF__Mutex_LUMO22"));
    EXPECT_EQ(usb->VendorRequestRead(1, 0, 0, 4, nullptr), E_POINTER);
    EXPECT_EQ(usb->WriteMainEndpoint(0, nullptr), E_POINTER);
    EXPECT_EQ(usb->ReadMainEndpoint(0, nullptr), E_POINTER);
    SAFEARRAY* none = nullptr;
    EXPECT_EQ(usb->WriteMainEndpoint(0, &none), E_POINTER);
    EXPECT_EQ(usb->ReadMainEndpoint(0, &none), E_POINTER);
    EXPECT_EQ(usb->LockDevice(etnltPlayback, nullptr), E_POINTER);
    EXPECT_EQ(usb->get_Lock(etnltPlayback, nullptr), E_POINTER);
}

TEST_F(UsbConnection, ClosedObjectFailsEveryRequestAtOnce) {
    ComPtr<IUsbDriver> usb = NewUsbDriver();
    EXPECT_EQ(usb->Close(), S_OK);
    EXPECT_EQ(usb->Close(), S_OK);
    Stopwatch clock;

    EXPECT_EQ(usb->VendorRequestWrite(1, 0, 0, Variant()), E_FAIL);
    Variant untouched;
    untouched.vt = VT_I4;
    untouched.lVal = 99;
    EXPECT_EQ(usb->VendorRequestRead(1, 0, 0, 4, &untouched), E_FAIL);
    EXPECT_EQ(untouched.vt, VT_I4) << "a closed object hands nothing out";
    ByteArray bytes({1, 2, 3});
    EXPECT_EQ(usb->WriteMainEndpoint(3, bytes.address()), E_FAIL);
    EXPECT_EQ(usb->ReadMainEndpoint(3, bytes.address()), E_FAIL);
    EXPECT_EQ(usb->ResetMainEndpointIn(), E_FAIL);
    EXPECT_EQ(usb->ResetMainEndpointOut(), E_FAIL);
    long key = 5;
    EXPECT_EQ(usb->LockDevice(etnltRecording, &key), E_FAIL);
    EXPECT_EQ(key, 0);
    EXPECT_EQ(usb->UnlockDevice(etnltRecording, 1), E_FAIL);
    VARIANT_BOOL locked = 0;
    EXPECT_EQ(usb->get_Lock(etnltRecording, &locked), S_OK);
    EXPECT_EQ(locked, 1) << "a query that cannot be made reads as locked";

    EXPECT_LT(clock.Ms(), 900.0) << "a closed object has no mutex to wait for";
    EXPECT_EQ(bytes.Bytes(), (std::vector<BYTE>{1, 2, 3}));
}

TEST_F(UsbConnection, InPlaceArraysAreCheckedBeforeTheDevice) {
    ComPtr<IUsbDriver> usb = NewUsbDriver();
    ByteArray three({1, 2, 3});
    for (auto transfer : {&IUsbDriver::WriteMainEndpoint, &IUsbDriver::ReadMainEndpoint}) {
        EXPECT_EQ((usb.get()->*transfer)(4, three.address()), E_INVALIDARG) << "more than it holds";
        EXPECT_EQ((usb.get()->*transfer)(-1, three.address()), E_INVALIDARG) << "negative count";
        EXPECT_EQ((usb.get()->*transfer)(3, three.address()), E_FAIL) << "fits: then the device test";
        EXPECT_EQ((usb.get()->*transfer)(0, three.address()), E_FAIL);

        SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
        SAFEARRAY* square = ::SafeArrayCreate(VT_UI1, 2, bounds);
        SAFEARRAY* before = square;
        EXPECT_EQ((usb.get()->*transfer)(1, &square), E_INVALIDARG) << "two dimensions";
        EXPECT_EQ(square, before) << "the array is never replaced";
        ::SafeArrayDestroy(square);
    }
}

TEST_F(UsbConnection, OpenedThroughDispatchTheFlagIsOneOrZero) {
    ComPtr<IDispatch> usb = CreateByProgId<IDispatch>(kUsbProgId);
    ASSERT_TRUE(usb);
    Variant result;
    CallResult outcome;
    CallByName(usb.get(), L"Open", DISPATCH_METHOD, {Long(etndevPira), Long(77)}, &result, outcome);
    EXPECT_EQ(outcome.hr, DISP_E_EXCEPTION) << "E_FAIL comes back as an exception to late binding";
    EXPECT_EQ(outcome.exception.scode, E_FAIL);
    EXPECT_TRUE(outcome.Description().empty()) << "this class never attaches a message";
    ComPtr<ISupportErrorInfo> support;
    ASSERT_HRESULT_SUCCEEDED(usb.As(support));
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IUsbDriver), S_OK);
}

}  // namespace
}  // namespace tarn::test
