// The shared rules for values at the interface: byte arrays in, out and in
// place, and error reports.
#include "automation/byte_array.h"
#include "automation/error_report.h"
#include "automation/script_byte_array.h"
#include "common/byte_arrays.h"
#include "common/com_test_support.h"

namespace tarn::test {
namespace {

UniqueSafeArray Bytes(VARTYPE type, LONG lower, const std::vector<BYTE>& content) {
    return NewByteArray(content, type, lower);
}

VARIANT Holding(VARTYPE vt, SAFEARRAY* array) {
    VARIANT v;
    v.vt = vt;
    v.parray = array;
    return v;
}

TEST(ByteArrayInput, AcceptsUnsignedAndSignedArraysWithAnyLowerBound) {
    UniqueSafeArray unsignedBytes = Bytes(VT_UI1, -3, {1, 2, 3, 4});
    ByteArrayInput in(Holding(VT_ARRAY | VT_UI1, unsignedBytes.get()), Dimensions::ExactlyOne);
    ASSERT_TRUE(in.ok());
    ASSERT_EQ(in.size(), 4u);
    EXPECT_EQ(in.data()[3], 4);

    UniqueSafeArray signedBytes = Bytes(VT_I1, 5, {0xFF, 0x80, 0x7F});
    ByteArrayInput signedIn(Holding(VT_ARRAY | VT_I1, signedBytes.get()), Dimensions::ExactlyOne);
    ASSERT_TRUE(signedIn.ok());
    ASSERT_EQ(signedIn.size(), 3u);
    EXPECT_EQ(signedIn.data()[0], 0xFF) << "a signed -1 is the byte 0xFF";

    UniqueSafeArray empty = Bytes(VT_UI1, 0, {});
    ByteArrayInput emptyIn(Holding(VT_ARRAY | VT_UI1, empty.get()), Dimensions::ExactlyOne);
    EXPECT_TRUE(emptyIn.ok());
    EXPECT_EQ(emptyIn.size(), 0u);
}

TEST(ByteArrayInput, RefusesEveryOtherForm) {
    UniqueSafeArray bytes = Bytes(VT_UI1, 0, {1, 2});
    SAFEARRAY* reference = bytes.get();
    VARIANT byRef;
    byRef.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    byRef.pparray = &reference;
    EXPECT_FALSE(ByteArrayInput(byRef, Dimensions::ExactlyOne).ok());
    EXPECT_FALSE(ByteArrayInput(Holding(VT_ARRAY | VT_VARIANT, bytes.get()), Dimensions::ExactlyOne).ok());
    EXPECT_FALSE(ByteArrayInput(Holding(VT_ARRAY | VT_UI1, nullptr), Dimensions::ExactlyOne).ok());
    EXPECT_FALSE(ByteArrayInput(Holding(VT_ARRAY | VT_UI1, nullptr), Dimensions::AnyCount).ok());

    SAFEARRAYBOUND square[2] = {{2, 0}, {2, 0}};
    UniqueSafeArray twoDimensional(::SafeArrayCreate(VT_UI1, 2, square));
    VARIANT grid = Holding(VT_ARRAY | VT_UI1, twoDimensional.get());
    EXPECT_FALSE(ByteArrayInput(grid, Dimensions::ExactlyOne).ok());
    EXPECT_TRUE(ByteArrayInput(grid, Dimensions::AnyCount).ok()) << "when dimensions are not required";
}

TEST(ByteArrayInput, UnlocksTheDataWhenDone) {
    UniqueSafeArray bytes = Bytes(VT_UI1, 0, {1});
    { ByteArrayInput in(Holding(VT_ARRAY | VT_UI1, bytes.get()), Dimensions::ExactlyOne); }
    EXPECT_HRESULT_SUCCEEDED(::SafeArrayDestroy(bytes.release())) << "a locked array cannot be destroyed";
}

// The forms scripts pass a byte array in, and each refusal with its message.
TEST(ScriptByteArrayInput, ReadsThroughReferencesAndNamesEachRefusal) {
    UniqueSafeArray bytes = Bytes(VT_UI1, 0, {7, 8, 9});
    UniqueSafeArray locked = Bytes(VT_UI1, 0, {1});
    while (SUCCEEDED(::SafeArrayLock(locked.get()))) {
    }  // at its most locks: its data can't be accessed any more
    SAFEARRAYBOUND square[2] = {{2, 0}, {2, 0}};
    UniqueSafeArray grid(::SafeArrayCreate(VT_UI1, 2, square));
    SAFEARRAY* reference = bytes.get();
    VARIANT byValue = Holding(VT_ARRAY | VT_UI1, bytes.get()), byRef, variable, nested, wrong;
    byRef.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    byRef.pparray = &reference;
    variable.vt = VT_BYREF | VT_VARIANT;
    variable.pvarVal = &byRef;
    nested.vt = VT_BYREF | VT_VARIANT;
    nested.pvarVal = &variable;
    wrong.vt = VT_BSTR;
    wrong.bstrVal = nullptr;
    struct Case {
        const char* name;
        VARIANT argument;
        HRESULT expected;
        const wchar_t* problem;  // a part of the message
    } cases[] = {
        {"by value", byValue, S_OK, L""},
        {"by reference", byRef, S_OK, L""},
        {"a variable holding a reference", variable, S_OK, L""},
        {"a reference to that variable", nested, S_OK, L""},
        {"a string", wrong, DISP_E_TYPEMISMATCH, L"got variant type 0x0008"},
        {"a null array", Holding(VT_ARRAY | VT_UI1, nullptr), E_INVALIDARG, L"missing"},
        {"two dimensions", Holding(VT_ARRAY | VT_UI1, grid.get()), E_INVALIDARG, L"exactly one dimension"},
        {"a locked array", Holding(VT_ARRAY | VT_UI1, locked.get()), E_INVALIDARG, L"locked"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptByteArrayInput input;
        EXPECT_EQ(input.Open(c.argument), c.expected);
        EXPECT_NE(input.Problem().find(c.problem), std::wstring::npos);
        if (c.expected == S_OK)
            EXPECT_EQ(std::vector<BYTE>(input.data(), input.data() + input.size()), (std::vector<BYTE>{7, 8, 9}));
    }
    while (SUCCEEDED(::SafeArrayUnlock(locked.get()))) {
    }
}

TEST(ByteArrayOutput, NewArraysStartAtZeroAndAreHandedOutAs2011) {
    UniqueSafeArray array = CreateByteArray(0);
    ASSERT_TRUE(array);
    VARIANT out;
    out.vt = VT_EMPTY;
    HandOutByteArray(std::move(array), &out);
    EXPECT_EQ(out.vt, VT_ARRAY | VT_UI1);
    LONG lower = -1, upper = 0;
    ::SafeArrayGetLBound(out.parray, 1, &lower);
    ::SafeArrayGetUBound(out.parray, 1, &upper);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, -1) << "empty";
    ::VariantClear(&out);

    EXPECT_FALSE(CreateByteArray(-1));
}

TEST(ByteArrayInPlace, NeedsOneDimensionAndRoomForTheCount) {
    UniqueSafeArray four = Bytes(VT_UI1, 1, {0, 0, 0, 0});
    EXPECT_EQ(CheckInPlaceByteArray(four.get(), 0), S_OK);
    EXPECT_EQ(CheckInPlaceByteArray(four.get(), 4), S_OK);
    EXPECT_EQ(CheckInPlaceByteArray(four.get(), 5), E_INVALIDARG);
    EXPECT_EQ(CheckInPlaceByteArray(four.get(), -1), E_INVALIDARG);
    EXPECT_EQ(CheckInPlaceByteArray(nullptr, 0), E_INVALIDARG);
    SAFEARRAYBOUND square[2] = {{2, 0}, {2, 0}};
    UniqueSafeArray twoDimensional(::SafeArrayCreate(VT_UI1, 2, square));
    EXPECT_EQ(CheckInPlaceByteArray(twoDimensional.get(), 1), E_INVALIDARG);
}

class ReportErrorTest : public ComTest {};

TEST_F(ReportErrorTest, AttachesTheRecordAndMapsZeroToException) {
    EXPECT_EQ(ReportError(CLSID_DriverEnumerator, L"wide text", 0), DISP_E_EXCEPTION);
    ErrorRecord record = TakeErrorInfo();
    ASSERT_TRUE(record.present);
    EXPECT_EQ(record.description, L"wide text");
    EXPECT_EQ(record.source, L"TarnDriver.DriverEnumerator.1");
    EXPECT_TRUE(::IsEqualGUID(record.iid, GUID_NULL));

    EXPECT_EQ(ReportError(CLSID_Rs232Driver, L"another class's text", E_FAIL), E_FAIL);
    record = TakeErrorInfo();
    EXPECT_EQ(record.description, L"another class's text");
    EXPECT_EQ(record.source, L"TarnDriver.Rs232Driver.1");
}

}  // namespace
}  // namespace tarn::test
