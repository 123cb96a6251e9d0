// Bulk transfers on the main endpoint, in place in the caller's array: the
// stand-in loops what is written back to the next read.
#include "usb/usb_driver_fixture.h"

namespace tarn::test {
namespace {

class UsbMainEndpoint : public UsbDeviceTest {};

TEST_F(UsbMainEndpoint, OnlyTheFirstCountBytesMoveAndTheArrayStays) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    ByteArray out({1, 2, 3, 4, 5}, 7);  // any lower bound
    SAFEARRAY* outBefore = out.get();
    ASSERT_EQ(usb->WriteMainEndpoint(3, out.address()), S_OK);
    EXPECT_EQ(out.get(), outBefore);
    EXPECT_EQ(out.Bytes(), (std::vector<BYTE>{1, 2, 3, 4, 5}));

    std::vector<TarnUsbLogEntry> log = NewRequests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].code, TARN_USB_BULK_WRITE);
    EXPECT_EQ(std::vector<BYTE>(log[0].data, log[0].data + log[0].data_length),
              (std::vector<BYTE>{1, 2, 3}));

    ByteArray in({0xEE, 0xEE, 0xEE, 0xEE, 0xEE});
    SAFEARRAY* inBefore = in.get();
    ASSERT_EQ(usb->ReadMainEndpoint(3, in.address()), S_OK);
    EXPECT_EQ(in.get(), inBefore) << "never replaced";
    EXPECT_EQ(in.Elements(), 5u) << "never resized";
    EXPECT_EQ(in.Bytes(), (std::vector<BYTE>{1, 2, 3, 0xEE, 0xEE}));
}

TEST_F(UsbMainEndpoint, FailedTransfersAnswerEFail) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    ByteArray bytes({1, 2});
    control_.Fail(kLumo0, TARN_USB_BULK_WRITE, 1);
    EXPECT_EQ(usb->WriteMainEndpoint(2, bytes.address()), E_FAIL);
    ASSERT_EQ(usb->WriteMainEndpoint(2, bytes.address()), S_OK);
    control_.Fail(kLumo0, TARN_USB_BULK_READ, 1);
    EXPECT_EQ(usb->ReadMainEndpoint(2, bytes.address()), E_FAIL);
    EXPECT_EQ(usb->ReadMainEndpoint(2, bytes.address()), S_OK);
}

TEST_F(UsbMainEndpoint, NoBytesIsATransferToo) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    ByteArray bytes({1});
    EXPECT_EQ(usb->WriteMainEndpoint(0, bytes.address()), S_OK);
    EXPECT_EQ(usb->ReadMainEndpoint(0, bytes.address()), S_OK);
    EXPECT_EQ(bytes.Bytes(), (std::vector<BYTE>{1}));
}

TEST_F(UsbMainEndpoint, ResetsReachTheDevice) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    EXPECT_EQ(usb->ResetMainEndpointIn(), S_OK);
    EXPECT_EQ(usb->ResetMainEndpointOut(), S_OK);
    EXPECT_EQ(usb->ResetMainEndpointOut(), S_OK);
    TarnUsbDeviceStatus status = control_.Status(kLumo0);
    EXPECT_EQ(status.resets_in, 1u);
    EXPECT_EQ(status.resets_out, 2u);
    control_.Fail(kLumo0, TARN_USB_RESET_IN, 1);
    EXPECT_EQ(usb->ResetMainEndpointIn(), E_FAIL);
}

TEST_F(UsbMainEndpoint, UnpluggedDeviceFailsTransfers) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    control_.Plug(kLumo0, false);
    ByteArray bytes({1, 2});
    EXPECT_EQ(usb->WriteMainEndpoint(2, bytes.address()), E_FAIL);
    EXPECT_EQ(usb->ReadMainEndpoint(2, bytes.address()), E_FAIL);
    Variant out;
    EXPECT_EQ(usb->VendorRequestRead(1, 0, 0, 1, &out), E_FAIL);
    control_.Plug(kLumo0, true);
    VARIANT_BOOL opened = 0;
    EXPECT_EQ(usb->Open(etndevLumo, 0, &opened), S_OK) << "open again after a replug";
    EXPECT_EQ(usb->WriteMainEndpoint(2, bytes.address()), S_OK);
}

}  // namespace
}  // namespace tarn::test
