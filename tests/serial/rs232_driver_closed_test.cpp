// Rs232Driver without a port: defaults, argument checks, failures and their
// messages, by vtable and by name.
#include "serial/serial_test_support.h"

namespace tarn::test {
namespace {

class ClosedDriver : public MtaTest {
protected:
    void SetUp() override {
        MtaTest::SetUp();
        driver_ = NewDriver();
        ASSERT_TRUE(driver_) << "TarnDriver.Rs232Driver is not registered";
        ClearErrorInfo();
    }
    void TearDown() override {
        driver_.reset();
        MtaTest::TearDown();
    }
    ComPtr<IRs232Driver> driver_;
};

TEST_F(ClosedDriver, NewObjectReportsPortZeroAnd9600) {
    long number = -1, baud = -1;
    EXPECT_EQ(S_OK, driver_->get_PortNumber(&number));
    EXPECT_EQ(0, number);
    EXPECT_EQ(S_OK, driver_->get_BaudRate(&baud));
    EXPECT_EQ(9600, baud);
    BSTR name = nullptr;
    EXPECT_EQ(S_OK, driver_->get_PortName(&name));
    EXPECT_STREQ(L"COM0", name);
    EXPECT_EQ(4u, ::SysStringLen(name));
    ::SysFreeString(name);
}

TEST_F(ClosedDriver, NullOutPointersGiveEPointerAndNoMessage) {
    ExpectUnreported(E_POINTER, driver_->Open(1, nullptr));
    ExpectUnreported(E_POINTER, driver_->get_PortName(nullptr));
    ExpectUnreported(E_POINTER, driver_->get_PortNumber(nullptr));
    ExpectUnreported(E_POINTER, driver_->get_BaudRate(nullptr));
    ExpectUnreported(E_POINTER, driver_->Read(4, nullptr));
    ExpectUnreported(E_POINTER, driver_->ReadAvailableBytes(nullptr));
}

TEST_F(ClosedDriver, TransfersFailWithTheirMessages) {
    ExpectReported(E_FAIL, L"WriteFile failed", WriteBytes(driver_.get(), {1, 2, 3}));

    Variant out;
    MarkUntouched(out);
    ExpectReported(E_FAIL, L"ReadFile failed", driver_->Read(4, &out));
    EXPECT_TRUE(Untouched(out));
    ExpectReported(E_FAIL, L"variant create failed", driver_->Read(-1, &out));
    EXPECT_TRUE(Untouched(out));
    ExpectUnreported(E_FAIL, driver_->ReadAvailableBytes(&out));
    EXPECT_TRUE(Untouched(out));
}

TEST_F(ClosedDriver, WriteRefusesEverythingButOneDimensionalByteArrays) {
    Variant number(7L), text(L"abc"), empty;
    ExpectReported(E_INVALIDARG, L"variant type mismatch", driver_->Write(number));
    ExpectReported(E_INVALIDARG, L"variant type mismatch", driver_->Write(text));
    ExpectReported(E_INVALIDARG, L"variant type mismatch", driver_->Write(empty));

    ExpectAllRefused(driver_.get());
}

TEST_F(ClosedDriver, OpenOfAMissingPortFailsWithoutMessage) {
    for (long port : {0L, -1L, 250L}) {
        VARIANT_BOOL ok = 7;
        ExpectUnreported(E_FAIL, driver_->Open(port, &ok));
        EXPECT_EQ(0, ok) << "COM" << port;
        long number = -1;
        driver_->get_PortNumber(&number);
        EXPECT_EQ(0, number);
    }
}

TEST_F(ClosedDriver, BaudRateIsStoredUncheckedAndKeptAcrossClose) {
    for (long rate : {19200L, 0L, -5L, 12345L}) {
        EXPECT_EQ(S_OK, driver_->put_BaudRate(rate));
        long back = 0;
        EXPECT_EQ(S_OK, driver_->get_BaudRate(&back));
        EXPECT_EQ(rate, back);
    }
    EXPECT_EQ(S_OK, driver_->Close());
    EXPECT_EQ(S_OK, driver_->Close());
    long back = 0;
    driver_->get_BaudRate(&back);
    EXPECT_EQ(12345, back);
}

TEST_F(ClosedDriver, SuccessLeavesTheThreadsErrorInformation) {
    ExpectReported(E_FAIL, L"WriteFile failed", WriteBytes(driver_.get(), {1}));
    WriteBytes(driver_.get(), {1});  // attaches the record again
    long baud = 0;
    EXPECT_EQ(S_OK, driver_->get_BaudRate(&baud));
    EXPECT_EQ(S_OK, driver_->Close());
    ErrorRecord record = TakeErrorInfo();
    EXPECT_TRUE(record.present);
    EXPECT_EQ(L"WriteFile failed", record.description);
}

TEST_F(ClosedDriver, SupportsErrorInfoForItsOwnInterfaceOnly) {
    ComPtr<ISupportErrorInfo> support;
    ASSERT_HRESULT_SUCCEEDED(driver_.As(support));
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID_IRs232Driver));
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IDispatch));
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IRs232DigitalIoDriver));
}

// Late-bound clients (scripts, VBA) get the messages as exceptions.
TEST_F(ClosedDriver, ByNameFailuresCarryMessageAndSource) {
    ComPtr<IDispatch> dispatch;
    ASSERT_HRESULT_SUCCEEDED(driver_.As(dispatch));

    struct Failure {
        const wchar_t* method;
        long argument;
        const wchar_t* description;
        SCODE scode;
    };
    for (const Failure& failure : {Failure{L"Write", 5, L"variant type mismatch", E_INVALIDARG},
                                   Failure{L"Read", 3, L"ReadFile failed", E_FAIL}}) {
        SCOPED_TRACE(testing::Message() << failure.method);
        Variant result;
        CallResult outcome;
        CallByName(dispatch.get(), failure.method, DISPATCH_METHOD, {Long(failure.argument)}, &result, outcome);
        EXPECT_EQ(DISP_E_EXCEPTION, outcome.hr);
        EXPECT_EQ(failure.description, outcome.Description());
        EXPECT_EQ(L"TarnDriver.Rs232Driver.1", outcome.Source());
        EXPECT_EQ(failure.scode, outcome.exception.scode);
        EXPECT_EQ(VT_EMPTY, result.vt);
    }
    {
        // PortName is the default member.
        Variant result;
        CallResult outcome;
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        outcome.hr = dispatch->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                      &result, &outcome.exception, nullptr);
        EXPECT_EQ(S_OK, outcome.hr);
        ASSERT_EQ(VT_BSTR, result.vt);
        EXPECT_STREQ(L"COM0", result.bstrVal);
    }
    {
        Variant result;
        CallResult outcome;
        CallByName(dispatch.get(), L"BaudRate", DISPATCH_PROPERTYPUT, {Long(115200)}, nullptr, outcome);
        EXPECT_EQ(S_OK, outcome.hr);
        CallByName(dispatch.get(), L"BaudRate", DISPATCH_PROPERTYGET, {}, &result, outcome);
        EXPECT_EQ(S_OK, outcome.hr);
        EXPECT_EQ(VT_I4, result.vt);
        EXPECT_EQ(115200, result.lVal);
    }
}

}  // namespace
}  // namespace tarn::test
