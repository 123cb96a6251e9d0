// Vendor requests as device registers, and requests the device must refuse.
#include "usb_test_support.h"

using namespace usbtest;

namespace {

class VendorRequests : public FreshDevices {};

TEST_F(VendorRequests, ReadReturnsWhatTheWriteStoredZeroPadded) {
    Handle h = OpenDevice(Lumo(0));
    ASSERT_TRUE(h.valid());
    ASSERT_TRUE(VendorWrite(h.get(), 0x10, {1, 2, 3, 4}).ok);

    Bytes exact(4), longer(8, 0xCC), shorter(2);
    Result r = VendorRead(h.get(), 0x10, exact);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(4u, r.bytes);
    EXPECT_EQ((Bytes{1, 2, 3, 4}), exact);
    r = VendorRead(h.get(), 0x10, longer);
    EXPECT_EQ(8u, r.bytes);
    EXPECT_EQ((Bytes{1, 2, 3, 4, 0, 0, 0, 0}), longer);
    VendorRead(h.get(), 0x10, shorter);
    EXPECT_EQ((Bytes{1, 2}), shorter);
}

TEST_F(VendorRequests, RegistersArePerRequestCodeAndPerDevice) {
    Handle lumo = OpenDevice(Lumo(0)), pira = OpenDevice(Q0215(0));
    ASSERT_TRUE(lumo.valid() && pira.valid());
    ASSERT_TRUE(VendorWrite(lumo.get(), 0x20, {9, 9, 9}).ok);
    ASSERT_TRUE(VendorWrite(pira.get(), 0x20, {7}).ok);

    Bytes other(3, 0xCC), same(3);
    VendorRead(lumo.get(), 0x21, other);
    EXPECT_EQ((Bytes{0, 0, 0}), other);
    VendorRead(pira.get(), 0x20, same);
    EXPECT_EQ((Bytes{7, 0, 0}), same);

    // A shorter write replaces the whole register; parameters do not select one.
    ASSERT_TRUE(VendorWrite(lumo.get(), 0x20, {5}, 100, -100).ok);
    VendorRead(lumo.get(), 0x20, same, 1, 2);
    EXPECT_EQ((Bytes{5, 0, 0}), same);
}

TEST_F(VendorRequests, EmptyDataStagesSucceed) {
    Handle h = OpenDevice(Lumo(0));
    ASSERT_TRUE(VendorWrite(h.get(), 0x30, {1, 2}).ok);
    ASSERT_TRUE(VendorWrite(h.get(), 0x30, {}).ok);  // a command without data empties the register
    Bytes none;
    Result r = VendorRead(h.get(), 0x30, none);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(0u, r.bytes);
    Bytes two(2, 0xCC);
    VendorRead(h.get(), 0x30, two);
    EXPECT_EQ((Bytes{0, 0}), two);
}

TEST_F(VendorRequests, DataStageLimitIsEnforcedBothWays) {
    Handle h = OpenDevice(Lumo(0));
    Bytes most(TARN_USB_MAX_VENDOR_DATA);
    for (size_t i = 0; i < most.size(); ++i) most[i] = static_cast<uint8_t>(i * 7);
    ASSERT_TRUE(VendorWrite(h.get(), 0xFF, most).ok);
    Bytes back(TARN_USB_MAX_VENDOR_DATA);
    EXPECT_TRUE(VendorRead(h.get(), 0xFF, back).ok);
    EXPECT_EQ(most, back);

    Bytes tooMany(TARN_USB_MAX_VENDOR_DATA + 1);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), VendorWrite(h.get(), 0xFF, tooMany).error);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), VendorRead(h.get(), 0xFF, tooMany).error);
    VendorRead(h.get(), 0xFF, back);
    EXPECT_EQ(most, back) << "a refused write must not touch the register";
}

TEST_F(VendorRequests, LogShowsTheRequestBlockAndDataAsSent) {
    Handle h = OpenDevice(Lumo(1));
    uint32_t before = control.NextSequence();
    ASSERT_TRUE(VendorWrite(h.get(), 0xA5, {0xDE, 0xAD}, -2, 0x1234).ok);

    auto log = control.Log(before - 1);
    ASSERT_EQ(1u, log.size());
    const TarnUsbLogEntry &e = log[0];
    EXPECT_EQ(before, e.sequence);
    EXPECT_EQ(TARN_USB_VENDOR_WRITE, e.code);
    EXPECT_EQ(TARN_USB_KIND_LUMO, e.device.kind);
    EXPECT_EQ(1, e.device.number);
    EXPECT_EQ(8u, e.input_length);
    EXPECT_EQ(0, e.status);
    EXPECT_EQ((Bytes{0xA5, 0x00, 0xFE, 0xFF, 0x34, 0x12, 0xDE, 0xAD}), Bytes(e.data, e.data + e.data_length));
}

// Requests a real driver refuses: wrong buffer sizes, values out of range,
// codes it does not know.  None of them may change the device.
struct Refusal {
    const char *what;
    uint32_t code;
    DWORD in_length;
    DWORD out_length;
    uint8_t first_byte;
    DWORD error;
};

class RefusedRequests : public FreshDevices, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedRequests, FailWithTheDriversErrorAndChangeNothing) {
    const Refusal &c = GetParam();
    Handle h = OpenDevice(Lumo(0));
    ASSERT_TRUE(h.valid());
    Bytes in(c.in_length, 0), out(c.out_length + 1, 0xCC);
    if (!in.empty()) in[0] = c.first_byte;
    Result r = Ioctl(h.get(), c.code, in.empty() ? nullptr : in.data(), c.in_length,
                     c.out_length ? out.data() : nullptr, c.out_length);
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_EQ(c.error, r.error) << c.what;
    EXPECT_EQ(0u, r.bytes) << c.what;

    TarnUsbDeviceStatus s = control.Status(Lumo(0));
    for (uint32_t holder : s.lock_holders) EXPECT_EQ(0u, holder) << c.what;
    Bytes reg(4, 0xCC);
    VendorRead(h.get(), c.first_byte, reg);
    EXPECT_EQ((Bytes{0, 0, 0, 0}), reg) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Device, RefusedRequests,
    ::testing::Values(
        Refusal{"vendor write shorter than a block", TARN_USB_VENDOR_WRITE, 5, 0, 1, ERROR_INVALID_PARAMETER},
        Refusal{"vendor write with an output buffer", TARN_USB_VENDOR_WRITE, 8, 4, 1, ERROR_INVALID_PARAMETER},
        Refusal{"vendor read shorter than a block", TARN_USB_VENDOR_READ, 5, 4, 1, ERROR_INVALID_PARAMETER},
        Refusal{"vendor read with data", TARN_USB_VENDOR_READ, 7, 4, 1, ERROR_INVALID_PARAMETER},
        Refusal{"lock without a type", TARN_USB_LOCK, 0, 0, 0, ERROR_INVALID_PARAMETER},
        Refusal{"lock with two bytes", TARN_USB_LOCK, 2, 0, 1, ERROR_INVALID_PARAMETER},
        Refusal{"lock of type 8", TARN_USB_LOCK, 1, 0, 8, ERROR_INVALID_PARAMETER},
        Refusal{"lock with an output buffer", TARN_USB_LOCK, 1, 1, 1, ERROR_INVALID_PARAMETER},
        Refusal{"unlock of type 255", TARN_USB_UNLOCK, 1, 0, 255, ERROR_INVALID_PARAMETER},
        Refusal{"query without room for the answer", TARN_USB_QUERY_LOCK, 1, 0, 1, ERROR_INSUFFICIENT_BUFFER},
        Refusal{"query without a type", TARN_USB_QUERY_LOCK, 0, 1, 0, ERROR_INVALID_PARAMETER},
        Refusal{"reset in with input", TARN_USB_RESET_IN, 1, 0, 1, ERROR_INVALID_PARAMETER},
        Refusal{"reset out with output", TARN_USB_RESET_OUT, 0, 1, 0, ERROR_INVALID_PARAMETER},
        Refusal{"function 0x807", TARN_USB_CTL_CODE(0x807), 1, 1, 1, ERROR_INVALID_FUNCTION},
        Refusal{"a control-device code", TARN_USB_CONTROL_GET_STATUS, 4, 4, 1, ERROR_INVALID_FUNCTION}));

TEST_F(VendorRequests, RequestCodesBeyondOneByteAreRefused) {
    Handle h = OpenDevice(Lumo(0));
    Bytes block = VendorBlock(0x01, 0, 0, {1});
    block[1] = 0x01;  // request code 0x101
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              Ioctl(h.get(), TARN_USB_VENDOR_WRITE, block.data(), 7, nullptr, 0).error);
}

}  // namespace
