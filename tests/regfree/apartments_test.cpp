// TarnDriver without registration, where the manifest must stand in for every
// piece of registration: classes by ProgID, calls by name (its type library
// entry), and calls and events across apartments (its marshaler entries for
// the dual interfaces and the event interface).  Run in a prefix where nothing
// is registered, with the assembly manifest activated (--manifest PATH).
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "activation_context.h"
#include "common/com_test_support.h"
#include "platform/unique_handle.h"
#include "digitalio/event_sink.h"

namespace tarn::test {
namespace {

HANDLE g_context = nullptr;  // the activated manifest, for the threads a test starts

using RegistrationFreeTest = ComTest;

TEST_F(RegistrationFreeTest, EveryClassByProgIdAnswersByName) {
    struct Row {
        const wchar_t* progId;
        const wchar_t* member;
    };
    const Row rows[] = {{L"TarnDriver.Rs232Driver", L"BaudRate"},
                        {L"TarnDriver.Rs232DigitalIoDriver.1", L"DebounceTime"},
                        {L"TarnDriver.UsbDriver", L"ResetMainEndpointIn"},
                        {L"TarnDriver.DriverEnumerator", L"EnumeratePorts"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.progId);
        ComPtr<IDispatch> object = CreateByProgId<IDispatch>(row.progId);
        ASSERT_TRUE(object);
        DISPID id = DISPID_UNKNOWN;
        EXPECT_HRESULT_SUCCEEDED(DispIdOf(object.get(), row.member, id));
    }
}

// The free-threaded class reached from this single-threaded apartment is a
// proxy: its dual interface needs the manifest's marshaler entry.
TEST_F(RegistrationFreeTest, DualInterfaceFromAnotherApartment) {
    ComPtr<IRs232DigitalIoDriver> driver;
    ASSERT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_Rs232DigitalIoDriver, nullptr, CLSCTX_INPROC_SERVER,
                                                IID_IRs232DigitalIoDriver, driver.put_void()));
    BSTR name = ::SysAllocString(L"\\\\.\\COM23");
    VARIANT_BOOL opened = 0;
    EXPECT_HRESULT_SUCCEEDED(driver->Open(name, &opened));
    ::SysFreeString(name);
    ASSERT_TRUE(opened);
    ASSERT_HRESULT_SUCCEEDED(driver->put_DebounceTime(7));
    long debounce = 0;
    ASSERT_HRESULT_SUCCEEDED(driver->get_DebounceTime(&debounce));
    EXPECT_EQ(7, debounce);
    driver->Close();
}

// And the other way: an apartment-threaded object made here, called from a
// thread of the multithreaded apartment (which activates the manifest too).
TEST_F(RegistrationFreeTest, ApartmentObjectFromTheMultithreadedApartment) {
    ComPtr<IDriverEnumerator> enumerator;
    ASSERT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_DriverEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                                                IID_IDriverEnumerator, enumerator.put_void()));
    IStream* stream = nullptr;
    ASSERT_HRESULT_SUCCEEDED(::CoMarshalInterThreadInterfaceInStream(IID_IDriverEnumerator, enumerator.get(), &stream));
    HRESULT unmarshalled = E_FAIL, called = E_FAIL;
    const UniqueHandle finished(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread caller([&] {
        const ActivationOnThread activation(g_context);
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            ComPtr<IDriverEnumerator> proxy;
            unmarshalled = ::CoGetInterfaceAndReleaseStream(stream, IID_IDriverEnumerator, proxy.put_void());
            DISPID id = DISPID_UNKNOWN;
            if (SUCCEEDED(unmarshalled)) called = DispIdOf(proxy.get(), L"EnumeratePorts", id);
        }
        ::CoUninitialize();
        ::SetEvent(finished.get());
    });
    // The calls come into this apartment as messages.
    PumpingWait(finished.get(), 30000);
    caller.join();
    EXPECT_HRESULT_SUCCEEDED(unmarshalled);
    EXPECT_HRESULT_SUCCEEDED(called);
}

// Events from the driver's monitor thread reach a sink in this apartment, on this thread.
TEST_F(RegistrationFreeTest, EventsReachTheCallersApartment) {
    ComPtr<IRs232DigitalIoDriver> driver;
    ASSERT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_Rs232DigitalIoDriver, nullptr, CLSCTX_INPROC_SERVER,
                                                IID_IRs232DigitalIoDriver, driver.put_void()));
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    ASSERT_HRESULT_SUCCEEDED(driver->QueryInterface(IID_IConnectionPointContainer, container.put_void()));
    ASSERT_HRESULT_SUCCEEDED(container->FindConnectionPoint(DIID__IRs232DigitalIoDriverEvents, point.put()));
    ComPtr<EventSink> sink = EventSink::Create();
    DWORD cookie = 0;
    ASSERT_HRESULT_SUCCEEDED(point->Advise(sink.get(), &cookie));
    BSTR name = ::SysAllocString(L"\\\\.\\COM21");
    VARIANT_BOOL opened = 0;
    EXPECT_HRESULT_SUCCEEDED(driver->Open(name, &opened));
    ::SysFreeString(name);
    EXPECT_TRUE(opened);
    ASSERT_TRUE(sink->WaitFor(1));  // Open greets every sink with OnText
    const Event greeting = sink->Events().front();
    EXPECT_EQ(kOnText, greeting.id);
    EXPECT_EQ(::GetCurrentThreadId(), greeting.thread);
    point->Unadvise(cookie);
    driver->Close();
}

}  // namespace
}  // namespace tarn::test

int main(int argc, char** argv) {
    const ManifestActivation activation(TakeManifestArgument(argc, argv));
    if (activation.failed()) return 1;
    ::GetCurrentActCtx(&tarn::test::g_context);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    if (tarn::test::g_context) ::ReleaseActCtx(tarn::test::g_context);
    return result;
}
