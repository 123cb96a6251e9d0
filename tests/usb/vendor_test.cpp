// Vendor requests as the device receives them: the request block, the data
// stage for each form of the optional array, reads, short reads and failures.
#include "usb/usb_driver_fixture.h"

namespace tarn::test {
namespace {

class UsbVendorRequests : public UsbDeviceTest {
protected:
    // The one request that arrived since the mark, as bytes received.
    std::vector<BYTE> OnlyRequestData(uint32_t expectedCode) {
        std::vector<TarnUsbLogEntry> log = NewRequests();
        EXPECT_EQ(log.size(), 1u);
        if (log.size() != 1) return {};
        EXPECT_EQ(log[0].code, expectedCode);
        EXPECT_EQ(log[0].data_length, log[0].input_length);
        return std::vector<BYTE>(log[0].data, log[0].data + log[0].data_length);
    }
};

std::vector<BYTE> Concat(std::vector<BYTE> a, const std::vector<BYTE>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(UsbVendorRequests, WriteSendsTheBlockThenTheData) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    const std::vector<BYTE> block = {0xA5, 0x00, 0x34, 0x12, 0xFF, 0xFF};  // 0xA5, 0x1234, -1

    ByteArray four({9, 8, 7, 6}, 1);  // lower bound 1
    Variant bytes;
    bytes.vt = VT_ARRAY | VT_UI1;
    bytes.parray = four.get();
    EXPECT_EQ(usb->VendorRequestWrite(0xA5, 0x1234, -1, bytes), S_OK);
    bytes.vt = VT_EMPTY;  // the array stays the test's
    EXPECT_EQ(OnlyRequestData(TARN_USB_VENDOR_WRITE), Concat(block, {9, 8, 7, 6}));

    MarkLog();
    ByteArray signedBytes({0xFF, 0x80});
    Variant signedVariant;
    signedVariant.vt = VT_ARRAY | VT_I1;
    signedVariant.parray = signedBytes.get();
    EXPECT_EQ(usb->VendorRequestWrite(0xA5, 0x1234, -1, signedVariant), S_OK);
    signedVariant.vt = VT_EMPTY;
    EXPECT_EQ(OnlyRequestData(TARN_USB_VENDOR_WRITE), Concat(block, {0xFF, 0x80})) << "0x2010 goes out unchanged";
}

TEST_F(UsbVendorRequests, WriteWithoutAnArrayOfBytesSendsTheBlockAlone) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    const std::vector<BYTE> block = {0x07, 0x00, 0x02, 0x00, 0x03, 0x00};

    ByteArray empty({});
    ByteArray three({1, 2, 3});
    SAFEARRAY* threeArray = three.get();
    SAFEARRAYBOUND bound{2, 0};
    SAFEARRAY* variants = ::SafeArrayCreate(VT_VARIANT, 1, &bound);

    struct Form {
        const char* what;
        VARTYPE vt;
        void* value;
    } forms[] = {
        {"omitted", VT_ERROR, nullptr},
        {"empty", VT_EMPTY, nullptr},
        {"zero elements", VT_ARRAY | VT_UI1, empty.get()},
        {"by reference", VT_BYREF | VT_ARRAY | VT_UI1, &threeArray},
        {"array of variants", VT_ARRAY | VT_VARIANT, variants},
        {"no array attached", VT_ARRAY | VT_UI1, nullptr},
    };
    for (const Form& form : forms) {
        MarkLog();
        VARIANT argument;
        argument.vt = form.vt;
        if (form.vt == VT_ERROR)
            argument.scode = DISP_E_PARAMNOTFOUND;
        else
            argument.byref = form.value;
        EXPECT_EQ(usb->VendorRequestWrite(7, 2, 3, argument), S_OK) << form.what;
        EXPECT_EQ(OnlyRequestData(TARN_USB_VENDOR_WRITE), block) << form.what;
    }
    ::SafeArrayDestroy(variants);
}

// The count comes from dimension 1, yet never exceeds the cells the array
// has: an empty second dimension means no data at all.  Lower bounds at the
// limits of a LONG still give the array's own count.
TEST_F(UsbVendorRequests, WriteNeverReadsBeyondTheArray) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    const std::vector<BYTE> block = {0x07, 0x00, 0x00, 0x00, 0x00, 0x00};
    const struct {
        const char* what;
        std::vector<SAFEARRAYBOUND> bounds;  // dimension 1 first
        std::vector<BYTE> sent;              // after the block
    } kShapes[] = {
        {"16 Mi by 0", {{0x1000000, 0}, {0, 0}}, {}},
        {"0 by 4", {{0, 0}, {4, 0}}, {}},
        {"3 by 0 by 2", {{3, 0}, {0, 0}, {2, 0}}, {}},
        {"2 by 3", {{2, 0}, {3, 0}}, {1, 2}},
        {"lower bound at the top", {{3, 0x7FFFFFFF}}, {1, 2, 3}},
        {"lower bound at the bottom", {{3, static_cast<LONG>(0x80000000)}}, {1, 2, 3}},
    };
    for (const auto& shape : kShapes) {
        SAFEARRAYBOUND bounds[3];
        std::copy(shape.bounds.begin(), shape.bounds.end(), bounds);
        SAFEARRAY* array = ::SafeArrayCreate(VT_UI1, static_cast<UINT>(shape.bounds.size()), bounds);
        ASSERT_TRUE(array) << shape.what;
        ULONGLONG cells = 1;
        for (const SAFEARRAYBOUND& bound : shape.bounds) cells *= bound.cElements;
        BYTE* data = nullptr;
        ASSERT_HRESULT_SUCCEEDED(::SafeArrayAccessData(array, reinterpret_cast<void**>(&data)));
        for (ULONGLONG i = 0; i < cells && i < 6; ++i) data[i] = static_cast<BYTE>(i + 1);
        ::SafeArrayUnaccessData(array);
        MarkLog();
        VARIANT argument;
        argument.vt = VT_ARRAY | VT_UI1;
        argument.parray = array;
        EXPECT_EQ(usb->VendorRequestWrite(7, 0, 0, argument), S_OK) << shape.what;
        EXPECT_EQ(OnlyRequestData(TARN_USB_VENDOR_WRITE), Concat(block, shape.sent)) << shape.what;
        ::SafeArrayDestroy(array);
    }
}

TEST_F(UsbVendorRequests, OptionalArgumentsOmittedByName) {
    ComPtr<IDispatch> usb;
    ASSERT_HRESULT_SUCCEEDED(OpenLumo0().As(usb));
    Variant result;
    CallResult outcome;
    CallByName(usb.get(), L"VendorRequestWrite", DISPATCH_METHOD, {Long(0x42)}, &result, outcome);
    EXPECT_EQ(outcome.hr, S_OK);
    EXPECT_EQ(OnlyRequestData(TARN_USB_VENDOR_WRITE), (std::vector<BYTE>{0x42, 0, 0, 0, 0, 0}));
}

TEST_F(UsbVendorRequests, WriteCountsAsDoneOnceSent) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    control_.Fail(kLumo0, TARN_USB_VENDOR_WRITE, 1);
    EXPECT_EQ(usb->VendorRequestWrite(1, 0, 0, Variant()), S_OK);
    std::vector<TarnUsbLogEntry> log = NewRequests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].status, 0) << "the device did fail it";
}

TEST_F(UsbVendorRequests, ReadBringsBackWhatWasWritten) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    ByteArray value({0x11, 0x22, 0x33});
    Variant in;
    in.vt = VT_ARRAY | VT_UI1;
    in.parray = value.get();
    ASSERT_EQ(usb->VendorRequestWrite(0x30, 0, 0, in), S_OK);
    in.vt = VT_EMPTY;

    MarkLog();
    Variant out;
    ASSERT_EQ(usb->VendorRequestRead(0x30, 5, -2, 3, &out), S_OK);
    ASSERT_EQ(out.vt, VT_ARRAY | VT_UI1);
    LONG lower = -1;
    ::SafeArrayGetLBound(out.parray, 1, &lower);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(BytesOf(out.parray), (std::vector<BYTE>{0x11, 0x22, 0x33}));
    std::vector<TarnUsbLogEntry> log = NewRequests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].code, TARN_USB_VENDOR_READ);
    EXPECT_EQ(log[0].output_length, 3u);
    EXPECT_EQ(std::vector<BYTE>(log[0].data, log[0].data + log[0].data_length),
              (std::vector<BYTE>{0x30, 0, 5, 0, 0xFE, 0xFF}));
}

TEST_F(UsbVendorRequests, ShortOrFailedReadStillHandsTheArrayOut) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    control_.ShortRead(kLumo0, 2);
    Variant shortRead;
    EXPECT_EQ(usb->VendorRequestRead(0x31, 0, 0, 5, &shortRead), E_FAIL);
    ASSERT_EQ(shortRead.vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(BytesOf(shortRead.parray).size(), 5u) << "the array asked for, not the bytes that came";

    control_.Fail(kLumo0, TARN_USB_VENDOR_READ, 1);
    Variant failed;
    EXPECT_EQ(usb->VendorRequestRead(0x31, 0, 0, 4, &failed), E_FAIL);
    ASSERT_EQ(failed.vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(BytesOf(failed.parray).size(), 4u);
}

TEST_F(UsbVendorRequests, ReadOfNoBytesAndOfANegativeCount) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    Variant none;
    EXPECT_EQ(usb->VendorRequestRead(0x32, 0, 0, 0, &none), S_OK);
    ASSERT_EQ(none.vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(none.parray->rgsabound[0].cElements, 0u);
    EXPECT_EQ(NewRequests().size(), 1u);

    MarkLog();
    Variant negative;
    EXPECT_EQ(usb->VendorRequestRead(0x32, 0, 0, -1, &negative), E_FAIL);
    EXPECT_EQ(negative.vt, VT_EMPTY) << "nothing handed out";
    EXPECT_TRUE(NewRequests().empty()) << "no request for a negative count";
}

TEST_F(UsbVendorRequests, PiraDevicesAreReachedByTheirOwnName) {
    const TarnUsbDeviceId q1 = usbtest::Q0215(1);
    control_.Restart(q1);
    ComPtr<IUsbDriver> usb = NewUsbDriver();
    VARIANT_BOOL opened = 0;
    ASSERT_EQ(usb->Open(etndevPira, 1, &opened), S_OK);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(usb->VendorRequestWrite(3, 0, 0, Variant()), S_OK);
    std::vector<TarnUsbLogEntry> log = NewRequests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].device.kind, TARN_USB_KIND_Q0215);
    EXPECT_EQ(log[0].device.number, 1);
}

}  // namespace
}  // namespace tarn::test
