// TarnKit.Bytes as clients reach it: created by ProgID through COM, called
// through its vtable and by name through IDispatch.
#include <initguid.h>

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <cguid.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TarnKit.h"
#include "automation/byte_array.h"
#include "automation/hresult.h"
#include "automation/unique_bstr.h"
#include "automation/unique_variant.h"
#include "common/apartment.h"
#include "common/byte_arrays.h"
#include "platform/com_ptr.h"

using tarn::ComPtr;
using tarn::SafeArrayDataAccess;
using tarn::UniqueBstr;
using tarn::UniqueVariant;
using tarn::test::ApartmentScope;
using tarn::test::MakeArray;

namespace {


std::vector<BYTE> BytesOf(const VARIANT& v) {
    EXPECT_EQ(v.vt, VT_ARRAY | VT_UI1);
    std::vector<BYTE> out;
    if (v.vt != (VT_ARRAY | VT_UI1)) return out;
    EXPECT_EQ(SafeArrayGetDim(v.parray), 1u);
    LONG lower = -1, upper = -1;
    SafeArrayGetLBound(v.parray, 1, &lower);
    SafeArrayGetUBound(v.parray, 1, &upper);
    EXPECT_EQ(lower, 0);
    SafeArrayDataAccess data(v.parray);
    out.assign(data.data(), data.data() + (upper - lower + 1));
    return out;
}


std::wstring ErrorDescription(std::wstring* source = nullptr) {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) return L"<none>";
    UniqueBstr description, src;
    info->GetDescription(description.put());
    info->GetSource(src.put());
    if (source) *source = src.get() ? src.get() : L"";
    return description.get() ? description.get() : L"";
}

class BytesTest : public ::testing::Test {
protected:
    void SetUp() override {
        CLSID clsid;
        ASSERT_EQ(CLSIDFromProgID(L"TarnKit.Bytes", &clsid), S_OK) << "TarnKit.dll is not registered";
        EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Bytes));
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBytes,
                                   reinterpret_cast<void**>(bytes.put())),
                  S_OK);
    }

    std::vector<BYTE> fromHex(const wchar_t* hex) {
        UniqueBstr text(SysAllocString(hex));
        UniqueVariant result;
        EXPECT_EQ(bytes->FromHex(text.get(), result.get()), S_OK) << ErrorDescription();
        return BytesOf(*result.get());
    }

    std::wstring toHex(const VARIANT& array) {
        UniqueBstr hex;
        EXPECT_EQ(bytes->ToHex(array, hex.put()), S_OK) << ErrorDescription();
        return hex.get() ? hex.get() : L"";
    }

    HRESULT fromHexFails(const wchar_t* hex) {
        UniqueBstr text(SysAllocString(hex));
        UniqueVariant result;
        const HRESULT hr = bytes->FromHex(text.get(), result.get());
        EXPECT_EQ(result.get()->vt, VT_EMPTY);
        return hr;
    }

    ApartmentScope apartment{COINIT_APARTMENTTHREADED};
    ComPtr<IBytes> bytes;
};

TEST_F(BytesTest, FromHexAcceptsBlanksBetweenBytesAndBothCases) {
    EXPECT_EQ(fromHex(L"00 7f\tA5\r\nfF"), (std::vector<BYTE>{0x00, 0x7F, 0xA5, 0xFF}));
    EXPECT_EQ(fromHex(L"0102"), (std::vector<BYTE>{0x01, 0x02}));
    EXPECT_EQ(fromHex(L"  "), std::vector<BYTE>{});
    EXPECT_EQ(fromHex(L""), std::vector<BYTE>{});

    UniqueVariant empty;  // a null BSTR is an empty string
    EXPECT_EQ(bytes->FromHex(nullptr, empty.get()), S_OK);
    EXPECT_EQ(BytesOf(*empty.get()), std::vector<BYTE>{});
}

TEST_F(BytesTest, FromHexRejectsMalformedTextWithAMessage) {
    for (const wchar_t* bad : {L"123", L"1 23", L"0x12", L"zz", L"12-34", L"\x0661\x0662"}) {
        SCOPED_TRACE(testing::Message() << "hex: " << std::string(bad, bad + wcslen(bad)));
        EXPECT_EQ(fromHexFails(bad), E_INVALIDARG);
        std::wstring source;
        EXPECT_NE(ErrorDescription(&source), L"<none>");
        EXPECT_EQ(source, L"TarnKit.Bytes");
    }
}

TEST_F(BytesTest, TextRoundTripKeepsLowEightBits) {
    UniqueBstr text(SysAllocStringLen(L"A\x00FF\x0141\0z", 5));
    UniqueVariant array;
    ASSERT_EQ(bytes->FromText(text.get(), array.get()), S_OK);
    EXPECT_EQ(BytesOf(*array.get()), (std::vector<BYTE>{0x41, 0xFF, 0x41, 0x00, 0x7A}));

    UniqueBstr back;
    ASSERT_EQ(bytes->ToText(*array.get(), back.put()), S_OK);
    ASSERT_EQ(back.length(), 5u);  // the embedded zero survives
    EXPECT_EQ(std::wstring(back.get(), 5), std::wstring(L"A\x00FF" L"A\0z", 5));
}

TEST_F(BytesTest, ReadsEveryAcceptedArrayForm) {
    UniqueVariant unsignedBytes, signedBytes, offsetBounds, emptyArray;
    MakeArray(*unsignedBytes.get(), {0x01, 0xAB}, VT_UI1, 0);
    MakeArray(*signedBytes.get(), {0xFF, 0x80}, VT_I1, 0);  // -1 and -128 stay 0xFF and 0x80
    MakeArray(*offsetBounds.get(), {1, 2, 3, 4}, VT_UI1, -3);
    MakeArray(*emptyArray.get(), {}, VT_UI1, 0);

    EXPECT_EQ(toHex(*unsignedBytes.get()), L"01AB");
    EXPECT_EQ(toHex(*signedBytes.get()), L"FF80");
    EXPECT_EQ(toHex(*offsetBounds.get()), L"01020304");
    EXPECT_EQ(toHex(*emptyArray.get()), L"");

    VARIANT byRefArray;  // VT_BYREF|VT_ARRAY|VT_UI1
    byRefArray.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    byRefArray.pparray = &unsignedBytes.get()->parray;
    EXPECT_EQ(toHex(byRefArray), L"01AB");

    VARIANT byRefVariant;  // how VBScript passes a variable
    byRefVariant.vt = VT_BYREF | VT_VARIANT;
    byRefVariant.pvarVal = signedBytes.get();
    EXPECT_EQ(toHex(byRefVariant), L"FF80");

    LONG length = -1;
    EXPECT_EQ(bytes->Length(*offsetBounds.get(), &length), S_OK);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(bytes->Length(byRefVariant, &length), S_OK);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(bytes->Length(*emptyArray.get(), &length), S_OK);
    EXPECT_EQ(length, 0);
}

TEST_F(BytesTest, RejectsWhatIsNotAByteArray) {
    UniqueVariant text, variants, twoDims, nullArray, number;
    text.get()->vt = VT_BSTR;
    text.get()->bstrVal = SysAllocString(L"0102");
    SAFEARRAYBOUND one{2, 0};
    variants.get()->vt = VT_ARRAY | VT_VARIANT;
    variants.get()->parray = SafeArrayCreate(VT_VARIANT, 1, &one);
    SAFEARRAYBOUND two[2] = {{2, 0}, {2, 0}};
    twoDims.get()->vt = VT_ARRAY | VT_UI1;
    twoDims.get()->parray = SafeArrayCreate(VT_UI1, 2, two);
    nullArray.get()->vt = VT_ARRAY | VT_UI1;  // parray stays null
    number.get()->vt = VT_I4;
    number.get()->lVal = 5;

    struct Case { const char* name; VARIANT* value; HRESULT expected; };
    const Case cases[] = {
        {"string", text.get(), DISP_E_TYPEMISMATCH},
        {"array of variants", variants.get(), DISP_E_TYPEMISMATCH},
        {"number", number.get(), DISP_E_TYPEMISMATCH},
        {"two dimensions", twoDims.get(), E_INVALIDARG},
        {"null array", nullArray.get(), E_INVALIDARG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LONG length = 99;
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(bytes->Length(*c.value, &length), c.expected);
        std::wstring source;
        EXPECT_NE(ErrorDescription(&source), L"<none>");
        EXPECT_EQ(source, L"TarnKit.Bytes");
        UniqueBstr hex;
        EXPECT_EQ(bytes->ToHex(*c.value, hex.put()), c.expected);
        EXPECT_EQ(hex.get(), nullptr);
    }

    ComPtr<ISupportErrorInfo> supports;
    ASSERT_EQ(bytes.As(supports), S_OK);
    EXPECT_EQ(supports->InterfaceSupportsErrorInfo(IID_IBytes), S_OK);
    EXPECT_EQ(supports->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
}

TEST_F(BytesTest, ByteAtRepeatAndConcatBuildTestData) {
    UniqueVariant abc;
    MakeArray(*abc.get(), {0x0A, 0x0B, 0xFC}, VT_UI1, 5);
    LONG value = -1;
    EXPECT_EQ(bytes->ByteAt(*abc.get(), 0, &value), S_OK);  // counts from the first byte, whatever the bounds
    EXPECT_EQ(value, 0x0A);
    EXPECT_EQ(bytes->ByteAt(*abc.get(), 2, &value), S_OK);
    EXPECT_EQ(value, 0xFC);
    EXPECT_EQ(bytes->ByteAt(*abc.get(), 3, &value), E_INVALIDARG);
    EXPECT_EQ(bytes->ByteAt(*abc.get(), -1, &value), E_INVALIDARG);

    UniqueVariant repeated, none, joined;
    ASSERT_EQ(bytes->Repeat(*abc.get(), 3, repeated.get()), S_OK);
    EXPECT_EQ(toHex(*repeated.get()), L"0A0BFC0A0BFC0A0BFC");
    ASSERT_EQ(bytes->Repeat(*abc.get(), 0, none.get()), S_OK);
    EXPECT_EQ(BytesOf(*none.get()), std::vector<BYTE>{});
    UniqueVariant negative;
    EXPECT_EQ(bytes->Repeat(*abc.get(), -1, negative.get()), E_INVALIDARG);
    EXPECT_EQ(negative.get()->vt, VT_EMPTY);

    ASSERT_EQ(bytes->Concat(*abc.get(), *none.get(), joined.get()), S_OK);
    EXPECT_EQ(toHex(*joined.get()), L"0A0BFC");
    UniqueVariant twice;
    ASSERT_EQ(bytes->Concat(*abc.get(), *abc.get(), twice.get()), S_OK);
    EXPECT_EQ(toHex(*twice.get()), L"0A0BFC0A0BFC");
}

// Calls a method by name, the way a script host does.
HRESULT CallByName(IDispatch* object, const wchar_t* name, std::vector<VARIANT> argsLastFirst, VARIANT* result,
                   EXCEPINFO* exception) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    RETURN_IF_FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    DISPPARAMS params{argsLastFirst.data(), nullptr, static_cast<UINT>(argsLastFirst.size()), 0};
    UINT argError = 0;
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, exception,
                          &argError);
}

TEST_F(BytesTest, WorksByNameAsScriptsCallIt) {
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(bytes.As(dispatch), S_OK);

    VARIANT hexArg;
    hexArg.vt = VT_BSTR;
    hexArg.bstrVal = SysAllocString(L"de ad BE ef");
    UniqueVariant array;
    ASSERT_EQ(CallByName(dispatch.get(), L"FromHex", {hexArg}, array.get(), nullptr), S_OK);
    VariantClear(&hexArg);
    EXPECT_EQ(BytesOf(*array.get()), (std::vector<BYTE>{0xDE, 0xAD, 0xBE, 0xEF}));

    VARIANT byRef;  // a script variable holding the array
    byRef.vt = VT_BYREF | VT_VARIANT;
    byRef.pvarVal = array.get();
    UniqueVariant hex;
    ASSERT_EQ(CallByName(dispatch.get(), L"tohex", {byRef}, hex.get(), nullptr), S_OK);
    ASSERT_EQ(hex.get()->vt, VT_BSTR);
    EXPECT_STREQ(hex.get()->bstrVal, L"DEADBEEF");

    VARIANT count;  // Repeat(Bytes, Count): arguments arrive last first
    count.vt = VT_I2;
    count.iVal = 2;
    UniqueVariant repeated;
    ASSERT_EQ(CallByName(dispatch.get(), L"Repeat", {count, byRef}, repeated.get(), nullptr), S_OK);
    EXPECT_EQ(BytesOf(*repeated.get()).size(), 8u);

    VARIANT number;
    number.vt = VT_I4;
    number.lVal = 7;
    UniqueVariant none;
    EXCEPINFO exception{};
    const HRESULT hr = CallByName(dispatch.get(), L"Length", {number}, none.get(), &exception);
    // The failure reaches the caller as an exception carrying the error record.
    EXPECT_EQ(hr, DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, DISP_E_TYPEMISMATCH);
    EXPECT_STREQ(exception.bstrSource, L"TarnKit.Bytes");
    ASSERT_NE(exception.bstrDescription, nullptr);
    EXPECT_NE(std::wstring(exception.bstrDescription).find(L"0x0003"), std::wstring::npos);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
}

// Loaded directly, the module stays loaded while one of its objects lives.
TEST(TarnKitModule, CanUnloadOnlyWithoutLivingObjects) {
    ApartmentScope apartment{COINIT_APARTMENTTHREADED};
    HMODULE module = LoadLibraryW(L"TarnKit.dll");
    ASSERT_NE(module, nullptr);
    using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    using CanUnloadFn = HRESULT(WINAPI*)();
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(GetProcAddress(module, "DllGetClassObject"));
    auto canUnload = reinterpret_cast<CanUnloadFn>(GetProcAddress(module, "DllCanUnloadNow"));
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnload, nullptr);

    EXPECT_EQ(canUnload(), S_OK);
    {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(getClassObject(CLSID_Bytes, IID_IClassFactory, reinterpret_cast<void**>(factory.put())),
                  S_OK);
        ComPtr<IBytes> object;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBytes, reinterpret_cast<void**>(object.put())),
                  S_OK);
        ComPtr<IUnknown> aggregated;
        EXPECT_EQ(factory->CreateInstance(object.get(), IID_IUnknown,
                                          reinterpret_cast<void**>(aggregated.put())),
                  CLASS_E_NOAGGREGATION);
        factory.reset();
        EXPECT_EQ(canUnload(), S_FALSE);
    }
    EXPECT_EQ(canUnload(), S_OK);

    IUnknown* unknown = nullptr;
    EXPECT_EQ(getClassObject(GUID_NULL, IID_IClassFactory, reinterpret_cast<void**>(&unknown)),
              CLASS_E_CLASSNOTAVAILABLE);
    FreeLibrary(module);
}

}  // namespace
