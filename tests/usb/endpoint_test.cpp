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

// Device bytes go only into arrays of plain one-byte elements: an array of
// strings, interfaces, VARIANTs or wider numbers, or a descriptor with no data
// behind it, is refused and left exactly as it came.
TEST_F(UsbMainEndpoint, InPlaceArraysOfAnythingButBytesAreRefusedUntouched) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    ByteArray loaded({0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB});
    ASSERT_EQ(usb->WriteMainEndpoint(8, loaded.address()), S_OK);  // a read would find these

    for (VARTYPE type : {VT_BSTR, VT_VARIANT, VT_UNKNOWN, VT_DISPATCH, VT_I4, VT_I2, VT_R8, VT_UI1}) {
        SAFEARRAYBOUND bound{2, 0};
        SAFEARRAY* array = nullptr;
        if (type == VT_UI1) {  // a descriptor that claims two bytes and has no data
            ASSERT_HRESULT_SUCCEEDED(::SafeArrayAllocDescriptorEx(VT_UI1, 1, &array));
            array->rgsabound[0] = bound;
            array->cbElements = 1;
        } else {
            array = ::SafeArrayCreate(type, 1, &bound);
        }
        ASSERT_TRUE(array) << type;
        if (type == VT_BSTR) {
            LONG index = 0;
            BSTR text = ::SysAllocString(L"kept");
            ::SafeArrayPutElement(array, &index, text);
            ::SysFreeString(text);
        }
        const size_t size = array->pvData ? 2 * array->cbElements : 0;
        const std::vector<BYTE> before(static_cast<BYTE*>(array->pvData),
                                       static_cast<BYTE*>(array->pvData) + size);
        SAFEARRAY* const given = array;
        EXPECT_EQ(usb->ReadMainEndpoint(1, &array), E_INVALIDARG) << type;
        EXPECT_EQ(usb->WriteMainEndpoint(1, &array), E_INVALIDARG) << type;
        EXPECT_EQ(array, given) << type;
        EXPECT_EQ(std::vector<BYTE>(static_cast<BYTE*>(array->pvData), static_cast<BYTE*>(array->pvData) + size),
                  before)
            << type;
        EXPECT_EQ(array->cLocks, 0u) << type;
        if (type == VT_UI1) ::SafeArrayDestroyDescriptor(array);
        else ::SafeArrayDestroy(array);
    }
    EXPECT_EQ(NewRequests().size(), 1u) << "only the first write reached the device";

    // Bytes with a lower bound at the limits of a LONG are as good as any.
    for (LONG lower : {static_cast<LONG>(0x7FFFFFFF), static_cast<LONG>(0x80000000)}) {
        ByteArray edge({5, 6, 7}, lower);
        EXPECT_EQ(usb->WriteMainEndpoint(3, edge.address()), S_OK) << lower;
        EXPECT_EQ(usb->ReadMainEndpoint(3, edge.address()), S_OK) << lower;
        EXPECT_EQ(edge.Bytes(), (std::vector<BYTE>{0xAB, 0xAB, 0xAB})) << lower;
        EXPECT_EQ(usb->WriteMainEndpoint(4, edge.address()), E_INVALIDARG) << lower;
    }
}

// A string passed by value in the in-place array's place (a script's string
// literal) is converted for the call, but the caller's string is never written
// back into, nor let go: it is the caller's to free.  The read brings bytes
// other than the string's, which would show in a string written back.
TEST_F(UsbMainEndpoint, StringPassedByValueStaysTheCallers) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    ComPtr<IDispatch> dispatch;
    ASSERT_HRESULT_SUCCEEDED(usb.As(dispatch));
    for (UINT length : {83u, 40000u}) {  // one the string cache keeps, one it does not
        SCOPED_TRACE(length);
        ByteArray primer({1, 2, 3, 4});
        ASSERT_EQ(usb->WriteMainEndpoint(4, primer.address()), S_OK);
        VARIANTARG text;
        text.vt = VT_BSTR;
        text.bstrVal = ::SysAllocStringLen(nullptr, length);
        wmemset(text.bstrVal, L'a', length);
        VARIANTARG arguments[2] = {text, Long(4)};  // right to left: the array's place, then the count
        DISPPARAMS params{arguments, nullptr, 2, 0};
        EXPECT_EQ(dispatch->Invoke(106, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(memcmp(&arguments[0], &text, sizeof text), 0);
        EXPECT_EQ(::SysStringLen(text.bstrVal), length);
        EXPECT_EQ(std::wstring(text.bstrVal, 4), L"aaaa") << "the read's bytes were written into the caller's string";
        ::VariantClear(&text);
    }
}

// Every form in which a client can pass the in-place array by name reaches
// the caller's own array: by value, by reference, and a script's variable
// (VT_BYREF | VT_VARIANT) holding the array or a reference to it.
TEST_F(UsbMainEndpoint, EveryScriptFormOfTheArrayIsReadIntoInPlace) {
    ComPtr<IUsbDriver> usb = OpenLumo0();
    ComPtr<IDispatch> dispatch;
    ASSERT_HRESULT_SUCCEEDED(usb.As(dispatch));
    enum class Form { ByValue, ByReference, VariableHoldingArray, VariableHoldingReference };
    for (Form form : {Form::ByValue, Form::ByReference, Form::VariableHoldingArray, Form::VariableHoldingReference}) {
        SCOPED_TRACE(static_cast<int>(form));
        ByteArray primer({1, 2, 3, 4});
        ASSERT_EQ(usb->WriteMainEndpoint(4, primer.address()), S_OK);
        ByteArray in({0xEE, 0xEE, 0xEE, 0xEE, 0xEE});
        SAFEARRAY* const given = in.get();
        VARIANT variable;
        VARIANTARG argument;
        switch (form) {
            case Form::ByValue: argument.vt = VT_ARRAY | VT_UI1; argument.parray = in.get(); break;
            case Form::ByReference: argument.vt = VT_BYREF | VT_ARRAY | VT_UI1; argument.pparray = in.address(); break;
            case Form::VariableHoldingArray: variable.vt = VT_ARRAY | VT_UI1; variable.parray = in.get(); break;
            case Form::VariableHoldingReference:
                variable.vt = VT_BYREF | VT_ARRAY | VT_UI1;
                variable.pparray = in.address();
                break;
        }
        if (form == Form::VariableHoldingArray || form == Form::VariableHoldingReference) {
            argument.vt = VT_BYREF | VT_VARIANT;
            argument.pvarVal = &variable;
        }
        VARIANTARG arguments[2] = {argument, Long(4)};  // right to left: the array's place, then the count
        DISPPARAMS params{arguments, nullptr, 2, 0};
        EXPECT_EQ(dispatch->Invoke(106, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(in.get(), given) << "never replaced";
        EXPECT_EQ(in.Bytes(), (std::vector<BYTE>{1, 2, 3, 4, 0xEE}));
        EXPECT_EQ(given->cLocks, 0u);
    }
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
