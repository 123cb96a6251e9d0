// Calls by name and DISPID: the type library's contract as late-bound clients
// see it, the name cache, defaults of optional arguments, error information,
// and the script forms of the typed array parameters.
#include "common/com_test_support.h"

namespace tarn::test {
namespace {

class Dispatch : public ComTest {};

TEST_F(Dispatch, OneTypeInfoWhateverTheIndex) {
    ComPtr<IDispatch> serial = CreateByProgId<IDispatch>(L"TarnDriver.Rs232Driver");
    ASSERT_TRUE(serial);
    UINT count = 0;
    ASSERT_HRESULT_SUCCEEDED(serial->GetTypeInfoCount(&count));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(serial->GetTypeInfoCount(nullptr), E_POINTER);

    ComPtr<ITypeInfo> first, fifth;
    ASSERT_HRESULT_SUCCEEDED(serial->GetTypeInfo(0, LOCALE_USER_DEFAULT, first.put()));
    ASSERT_HRESULT_SUCCEEDED(serial->GetTypeInfo(5, 0x0407, fifth.put()));
    EXPECT_EQ(first.get(), fifth.get()) << "loaded once per process, whatever the locale";
    EXPECT_EQ(serial->GetTypeInfo(0, 0, nullptr), E_POINTER);

    TYPEATTR* attributes = nullptr;
    ASSERT_HRESULT_SUCCEEDED(first->GetTypeAttr(&attributes));
    EXPECT_TRUE(::IsEqualGUID(attributes->guid, IID_IRs232Driver));
    first->ReleaseTypeAttr(attributes);
}

TEST_F(Dispatch, NamesResolveWhateverTheirCase) {
    ComPtr<IDispatch> serial = CreateByProgId<IDispatch>(L"TarnDriver.Rs232Driver");
    ComPtr<IDispatch> usb = CreateByProgId<IDispatch>(L"TarnDriver.UsbDriver");
    ASSERT_TRUE(serial && usb);
    for (const wchar_t* name : {L"Open", L"OPEN", L"open", L"oPeN"}) {
        DISPID id = 0;
        ASSERT_HRESULT_SUCCEEDED(DispIdOf(serial.get(), name, id)) << name;
        EXPECT_EQ(id, 100);
        ASSERT_HRESULT_SUCCEEDED(DispIdOf(usb.get(), name, id)) << name;
        EXPECT_EQ(id, 101);
    }
    DISPID id = 0;
    EXPECT_HRESULT_SUCCEEDED(DispIdOf(serial.get(), L"PortName", id));
    EXPECT_EQ(id, 0) << "PortName is the default member";
    EXPECT_HRESULT_SUCCEEDED(DispIdOf(serial.get(), L"baudrate", id));
    EXPECT_EQ(id, 1001);
    // No member: a letter beyond ASCII (the cache leaves such names to the
    // type information), a digit where a member has a letter, no name at all.
    for (const wchar_t* name : {L"NoSuchMember", L"\u00D6pen", L"Op3n", static_cast<const wchar_t*>(nullptr)})
        EXPECT_EQ(DispIdOf(serial.get(), name, id), DISP_E_UNKNOWNNAME) << (name ? "a name" : "a null name");
}

TEST_F(Dispatch, NamedArgumentsResolveThroughTheTypeInfo) {
    ComPtr<IDispatch> serial = CreateByProgId<IDispatch>(L"TarnDriver.Rs232Driver");
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Open"), const_cast<LPOLESTR>(L"nPortNumber")};
    DISPID ids[2] = {};
    ASSERT_HRESULT_SUCCEEDED(serial->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids));
    EXPECT_EQ(ids[0], 100);
    EXPECT_EQ(ids[1], 0) << "the first parameter";

    ComPtr<IDispatch> usb = CreateByProgId<IDispatch>(L"TarnDriver.UsbDriver");
    LPOLESTR vendor[] = {const_cast<LPOLESTR>(L"vendorrequestwrite"), const_cast<LPOLESTR>(L"VARBYTEDATAARY")};
    ASSERT_HRESULT_SUCCEEDED(usb->GetIDsOfNames(IID_NULL, vendor, 2, LOCALE_USER_DEFAULT, ids));
    EXPECT_EQ(ids[0], 103);
    EXPECT_EQ(ids[1], 3);
}

TEST_F(Dispatch, FailureWithMessageReachesTheCallerAsException) {
    ComPtr<IDispatch> enumerator = CreateByProgId<IDispatch>(L"TarnDriver.DriverEnumerator");
    ASSERT_TRUE(enumerator);
    Variant list;
    VARIANTARG listRef;
    listRef.vt = VT_BYREF | VT_VARIANT;
    listRef.pvarVal = &list;
    Variant family(L"usb");
    CallResult outcome;
    Variant result;
    CallByName(enumerator.get(), L"EnumeratePorts", DISPATCH_METHOD, {family, listRef}, &result, outcome);
    EXPECT_EQ(outcome.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(outcome.Description(), L"Unknown Port Family");
    EXPECT_EQ(outcome.Source(), L"TarnDriver.DriverEnumerator.1");
    EXPECT_EQ(list.vt, VT_EMPTY) << "the variable is left as it was";
}

// Argument lists that promise more than they hold, and name lookups without
// names or room for the DISPIDs, are refused on every member of every class,
// including the members whose script arrays are adapted before the call.
TEST_F(Dispatch, MalformedCallsAreRefusedNeverFollowed) {
    VARIANTARG two[2];
    two[0].vt = two[1].vt = VT_EMPTY;
    DISPID named[2] = {0, 1};
    const struct {
        const char* what;
        DISPPARAMS params;
        bool null;
    } kLists[] = {
        {"no list", {}, true},
        {"named ids missing", {two, nullptr, 2, 1}, false},
        {"arguments missing", {nullptr, nullptr, 2, 0}, false},
        {"both missing", {nullptr, nullptr, 2, 2}, false},
        {"more named than arguments", {two, named, 1, 2}, false},
        {"named without arguments", {nullptr, named, 0, 1}, false},
    };
    const struct {
        const wchar_t* progId;
        std::vector<DISPID> members;
    } kClasses[] = {
        {L"TarnDriver.DriverEnumerator", {100}},
        {L"TarnDriver.UsbDriver", {101, 103, 105, 106, 1000}},
        {L"TarnDriver.Rs232Driver", {0, 100, 110}},
        // Rs232DigitalIoDriver is free-threaded: from this apartment its calls go
        // through a proxy, which reads the list itself; the fuzzer calls it directly.
    };
    for (const auto& type : kClasses) {
        ComPtr<IDispatch> object = CreateByProgId<IDispatch>(type.progId);
        ASSERT_TRUE(object) << type.progId;
        for (DISPID member : type.members) {
            for (const auto& list : kLists) {
                DISPPARAMS params = list.params;
                UINT argumentError = 0;
                const HRESULT hr = object->Invoke(member, IID_NULL, 0, DISPATCH_METHOD, list.null ? nullptr : &params,
                                                  nullptr, nullptr, &argumentError);
                EXPECT_TRUE(hr == E_INVALIDARG || hr == DISP_E_BADPARAMCOUNT)
                    << type.progId << " " << member << " " << list.what << ": 0x" << std::hex << hr;
            }
        }
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"Open")};
        DISPID id = 0;
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, nullptr, 1, 0, &id), E_INVALIDARG) << type.progId;
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, nullptr), E_INVALIDARG) << type.progId;
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, nullptr, 0, 0, nullptr), S_OK) << "nothing asked, nothing read";
    }
}

// A script variable whose array is pinned (locked by a For Each over it, or
// fixed) is neither orphaned nor destroyed: the call is refused and the
// variable keeps its array.
TEST_F(Dispatch, PinnedVariableKeepsItsArray) {
    ComPtr<IDispatch> enumerator = CreateByProgId<IDispatch>(L"TarnDriver.DriverEnumerator");
    for (USHORT pin : {USHORT{0}, USHORT{FADF_FIXEDSIZE}, USHORT{FADF_STATIC}}) {
        SAFEARRAYBOUND one{1, 0};
        SAFEARRAY* const held = ::SafeArrayCreate(VT_VARIANT, 1, &one);
        held->fFeatures |= pin;
        if (!pin) ::SafeArrayLock(held);
        VARIANT list;
        list.vt = VT_ARRAY | VT_VARIANT;
        list.parray = held;
        VARIANTARG listRef;
        listRef.vt = VT_BYREF | VT_VARIANT;
        listRef.pvarVal = &list;
        Variant family(L"serial");
        CallResult outcome;
        CallByName(enumerator.get(), L"EnumeratePorts", DISPATCH_METHOD, {family, listRef}, nullptr, outcome);
        EXPECT_EQ(outcome.hr, E_INVALIDARG) << pin;
        EXPECT_EQ(list.vt, VT_ARRAY | VT_VARIANT) << pin;
        EXPECT_EQ(list.parray, held) << pin;
        if (list.parray != held) {
            ::VariantClear(&list);  // the new list; `held` was lost or destroyed by the call
            continue;
        }
        if (!pin) ::SafeArrayUnlock(held);
        held->fFeatures &= ~pin;
        ::SafeArrayDestroy(held);
    }
    // A value of a type the platform does not know cannot be cleared: it stays, and the list is not put there.
    VARIANT unknown;
    unknown.vt = 0x7FFF;
    unknown.lVal = 42;
    VARIANTARG unknownRef;
    unknownRef.vt = VT_BYREF | VT_VARIANT;
    unknownRef.pvarVal = &unknown;
    Variant family(L"serial");
    CallResult outcome;
    CallByName(enumerator.get(), L"EnumeratePorts", DISPATCH_METHOD, {family, unknownRef}, nullptr, outcome);
    EXPECT_EQ(outcome.hr, DISP_E_BADVARTYPE);
    EXPECT_EQ(unknown.vt, 0x7FFF);
    EXPECT_EQ(unknown.lVal, 42);
}

// The port list's place takes the port list: another reference there is a
// type mismatch, never handed on as an array; an array passed by value can
// receive nothing and stays the caller's, even one too small for the list.
TEST_F(Dispatch, PortListPlaceKeepsOtherValuesOutOfReach) {
    ComPtr<IDispatch> enumerator = CreateByProgId<IDispatch>(L"TarnDriver.DriverEnumerator");
    Variant family(L"Serial");
    BSTR text = ::SysAllocString(L"not a list");
    VARIANTARG textRef;
    textRef.vt = VT_BYREF | VT_BSTR;
    textRef.pbstrVal = &text;
    CallResult refused;
    CallByName(enumerator.get(), L"EnumeratePorts", DISPATCH_METHOD, {family, textRef}, nullptr, refused);
    EXPECT_EQ(refused.hr, DISP_E_TYPEMISMATCH);
    EXPECT_STREQ(text, L"not a list");
    ::SysFreeString(text);

    SAFEARRAYBOUND none{0, 0};
    SAFEARRAY* const held = ::SafeArrayCreate(VT_BSTR, 1, &none);  // too small for any list
    const SAFEARRAY before = *held;
    VARIANTARG byValue;
    byValue.vt = VT_ARRAY | VT_BSTR;
    byValue.parray = held;
    CallResult outcome;
    CallByName(enumerator.get(), L"EnumeratePorts", DISPATCH_METHOD, {family, byValue}, nullptr, outcome);
    EXPECT_EQ(outcome.hr, S_OK);
    EXPECT_EQ(byValue.parray, held);
    EXPECT_EQ(held->pvData, before.pvData);
    EXPECT_EQ(held->fFeatures, before.fFeatures);
    EXPECT_EQ(held->rgsabound[0].cElements, 0u);
    ::SafeArrayDestroy(held);
}

// Values no conversion can take, and a method called with a property put's
// flags, are refused or bound like any call: never a crash, and the caller's
// array passed by value stays whole.
TEST_F(Dispatch, MisdirectedCallsLeaveTheCallersValues) {
    ComPtr<IDispatch> enumerator = CreateByProgId<IDispatch>(L"TarnDriver.DriverEnumerator");
    ASSERT_TRUE(enumerator);
    const USHORT kSignScales[] = {0x001D, 0x00C8, 0x5500, 0xFFFF};  // a scale beyond 28, a sign neither + nor -
    for (USHORT signScale : kSignScales) {
        for (bool byReference : {false, true}) {
            DECIMAL malformed{};
            malformed.signscale = signScale;
            malformed.Hi32 = 0xFFFFFFFF;
            malformed.Lo64 = 0xFFFFFFFFFFFFFFFFull;
            VARIANTARG family;
            if (byReference) {
                family.vt = VT_BYREF | VT_DECIMAL;
                family.pdecVal = &malformed;
            } else {
                family.decVal = malformed;
                family.vt = VT_DECIMAL;
            }
            Variant list;
            VARIANTARG listRef;
            listRef.vt = VT_BYREF | VT_VARIANT;
            listRef.pvarVal = &list;
            CallResult outcome;
            CallByName(enumerator.get(), L"EnumeratePorts", DISPATCH_METHOD, {family, listRef}, nullptr, outcome);
            EXPECT_EQ(outcome.hr, DISP_E_TYPEMISMATCH) << std::hex << signScale << (byReference ? " by reference" : "");
        }
    }

    ComPtr<IDispatch> usb = CreateByProgId<IDispatch>(L"TarnDriver.UsbDriver");
    ASSERT_TRUE(usb);
    for (WORD flags : {DISPATCH_METHOD | DISPATCH_PROPERTYPUT, DISPATCH_METHOD | DISPATCH_PROPERTYPUTREF}) {
        for (DISPID transfer : {105, 106}) {
            SAFEARRAYBOUND bound{4, 0};
            SAFEARRAY* const bytes = ::SafeArrayCreate(VT_UI1, 1, &bound);
            const SAFEARRAY before = *bytes;
            VARIANTARG arguments[2];
            arguments[0].vt = VT_ARRAY | VT_UI1;  // named DISPID_PROPERTYPUT: the last parameter
            arguments[0].parray = bytes;
            arguments[1] = Long(4);
            DISPID put = DISPID_PROPERTYPUT;
            DISPPARAMS params{arguments, &put, 2, 1};
            usb->Invoke(transfer, IID_NULL, 0, flags, &params, nullptr, nullptr, nullptr);
            EXPECT_EQ(bytes->pvData, before.pvData) << transfer << " flags " << flags;
            EXPECT_EQ(bytes->fFeatures, before.fFeatures) << transfer << " flags " << flags;
            EXPECT_HRESULT_SUCCEEDED(::SafeArrayDestroy(bytes));
        }
    }
}

// Named arguments bind by their DISPIDs in whatever order they stand, as a
// late-bound VBA call `EnumeratePorts "Serial", ppbstrPortsAry:=list,
// bstrOption:=""` passes them: the list comes back into its variable, and no
// other argument is written to or let go.  A name that binds no parameter, or
// one already bound, is refused with the caller's arguments untouched.
TEST_F(Dispatch, NamedArgumentsBindInAnyOrder) {
    struct Case {
        std::vector<DISPID> named;  // in DISPPARAMS order; "Serial" stands positionally before them
        HRESULT expected;
    };
    const Case cases[] = {
        {{1}, S_OK},          {{1, 2}, S_OK},          {{2, 1}, S_OK},          {{3, 1, 2}, S_OK},
        {{2, 4, 1}, S_OK},    {{4, 3, 2, 1}, S_OK},    {{3, 1}, S_OK},          {{4, 1}, S_OK},
        {{1, 5}, DISP_E_PARAMNOTFOUND}, {{1, 1}, DISP_E_PARAMNOTFOUND}, {{0, 1}, DISP_E_PARAMNOTFOUND},
        {{-1, 1}, DISP_E_PARAMNOTFOUND},
    };
    ComPtr<IDispatch> enumerator = CreateByProgId<IDispatch>(L"TarnDriver.DriverEnumerator");
    ASSERT_TRUE(enumerator);
    for (const Case& c : cases) {
        std::string layout;
        for (DISPID id : c.named) layout += std::to_string(id) + " ";
        SCOPED_TRACE(layout);
        Variant list(L"anything");
        std::vector<VARIANTARG> arguments;
        std::vector<BSTR> strings;  // the caller's: odd lengths, so no other string takes their place
        for (DISPID id : c.named) {
            VARIANTARG argument;
            if (id == 1) {
                argument.vt = VT_BYREF | VT_VARIANT;
                argument.pvarVal = &list;
            } else {
                argument.vt = VT_BSTR;
                argument.bstrVal = ::SysAllocStringLen(nullptr, 77 + 14 * static_cast<UINT>(strings.size()));
                wmemset(argument.bstrVal, id == 2 ? L' ' : L'r', ::SysStringLen(argument.bstrVal));
                strings.push_back(argument.bstrVal);
            }
            arguments.push_back(argument);
        }
        Variant family(L"Serial");
        arguments.push_back(family);
        std::vector<DISPID> named = c.named;
        DISPPARAMS params{arguments.data(), named.data(), static_cast<UINT>(arguments.size()),
                          static_cast<UINT>(named.size())};
        const std::vector<VARIANTARG> passed = arguments;

        const HRESULT hr = enumerator->Invoke(100, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        EXPECT_EQ(hr, c.expected);
        EXPECT_EQ(memcmp(passed.data(), arguments.data(), sizeof(VARIANTARG) * arguments.size()), 0);
        if (c.expected == S_OK) EXPECT_EQ(list.vt, VT_ARRAY | VT_VARIANT);
        else EXPECT_EQ(list.vt, VT_BSTR);
        // A string the call let go of would be handed out again at once.
        for (BSTR text : strings) {
            BSTR fresh = ::SysAllocStringLen(nullptr, ::SysStringLen(text));
            EXPECT_NE(fresh, text) << "the call freed the caller's string of " << ::SysStringLen(text);
            ::SysFreeString(fresh);
        }
        for (BSTR text : strings) ::SysFreeString(text);
    }
}

// Script engines hand variables over as VT_BYREF | VT_VARIANT; the port list
// comes back into the variable as an array of VARIANT strings, with the option
// defaulted when omitted.
TEST_F(Dispatch, PortListComesBackIntoAScriptVariable) {
    ComPtr<IDispatch> enumerator = CreateByProgId<IDispatch>(L"TarnDriver.DriverEnumerator");
    Variant list(L"anything but an array");
    VARIANTARG listRef;
    listRef.vt = VT_BYREF | VT_VARIANT;
    listRef.pvarVal = &list;
    Variant family(L"Serial");
    CallResult outcome;
    CallByName(enumerator.get(), L"EnumeratePorts", DISPATCH_METHOD, {family, listRef}, nullptr, outcome);
    ASSERT_HRESULT_SUCCEEDED(outcome.hr);
    ASSERT_EQ(list.vt, VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(::SafeArrayGetDim(list.parray), 1u);
    LONG lower = -1;
    ::SafeArrayGetLBound(list.parray, 1, &lower);
    EXPECT_EQ(lower, 0);

    // The same list through the vtable, for comparison.
    ComPtr<IDriverEnumerator> typed;
    ASSERT_HRESULT_SUCCEEDED(enumerator.As(typed));
    SAFEARRAY* names = nullptr;
    BSTR serial = ::SysAllocString(L"serial");
    VARIANT missing;
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    ASSERT_HRESULT_SUCCEEDED(typed->EnumeratePorts(serial, &names, nullptr, missing, missing));
    ::SysFreeString(serial);
    LONG upper = -1, scriptUpper = -1;
    ::SafeArrayGetUBound(names, 1, &upper);
    ::SafeArrayGetUBound(list.parray, 1, &scriptUpper);
    EXPECT_EQ(upper, scriptUpper);
    for (LONG i = 0; i <= upper; ++i) {
        BSTR name = nullptr;
        VARIANT element;
        ::VariantInit(&element);
        ::SafeArrayGetElement(names, &i, &name);
        ::SafeArrayGetElement(list.parray, &i, &element);
        ASSERT_EQ(element.vt, VT_BSTR);
        EXPECT_STREQ(element.bstrVal, name);
        ::SysFreeString(name);
        ::VariantClear(&element);
    }
    ::SafeArrayDestroy(names);
}

}  // namespace
}  // namespace tarn::test
