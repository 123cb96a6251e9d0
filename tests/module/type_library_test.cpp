// The registered type library: the contract that clients compile and script
// against.
#include <map>

#include "common/com_test_support.h"

namespace tarn::test {
namespace {

class TypeLibrary : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        ASSERT_HRESULT_SUCCEEDED(::LoadRegTypeLib(LIBID_TarnDriver, 1, 0, 0, library_.put()));
    }

    ComPtr<ITypeInfo> Type(const wchar_t* name) {
        for (UINT i = 0; i < library_->GetTypeInfoCount(); ++i) {
            BSTR typeName = nullptr;
            library_->GetDocumentation(i, &typeName, nullptr, nullptr, nullptr);
            const bool match = typeName && wcscmp(typeName, name) == 0;
            ::SysFreeString(typeName);
            if (match) {
                ComPtr<ITypeInfo> info;
                library_->GetTypeInfo(i, info.put());
                return info;
            }
        }
        return {};
    }

    struct Function {
        std::wstring help;
        DISPID id;
        INVOKEKIND kind;
        std::vector<std::wstring> parameters;
        std::vector<USHORT> flags;
        std::vector<VARTYPE> types;
        std::vector<std::wstring> defaults;  // text of string defaults, or the number
    };

    // The functions of a type, keyed by name and invoke kind.
    std::multimap<std::wstring, Function> Functions(ITypeInfo* info) {
        std::multimap<std::wstring, Function> result;
        TYPEATTR* attributes = nullptr;
        info->GetTypeAttr(&attributes);
        for (UINT i = 0; i < attributes->cFuncs; ++i) {
            FUNCDESC* desc = nullptr;
            info->GetFuncDesc(i, &desc);
            BSTR names[16] = {};
            UINT count = 0;
            info->GetNames(desc->memid, names, 16, &count);
            BSTR help = nullptr;
            info->GetDocumentation(desc->memid, nullptr, &help, nullptr, nullptr);
            Function f{help ? help : L"", desc->memid, desc->invkind, {}, {}, {}, {}};
            for (UINT p = 1; p < count; ++p) f.parameters.push_back(names[p]);
            for (SHORT p = 0; p < desc->cParams; ++p) {
                const ELEMDESC& e = desc->lprgelemdescParam[p];
                f.flags.push_back(e.paramdesc.wParamFlags);
                f.types.push_back(e.tdesc.vt);
                std::wstring defaultText;
                if (e.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) {
                    const VARIANT& d = e.paramdesc.pparamdescex->varDefaultValue;
                    defaultText = d.vt == VT_BSTR ? std::wstring(L"\"") + d.bstrVal + L"\"" : std::to_wstring(d.lVal);
                }
                f.defaults.push_back(defaultText);
            }
            result.emplace(names[0], f);
            for (UINT n = 0; n < count; ++n) ::SysFreeString(names[n]);
            ::SysFreeString(help);
            info->ReleaseFuncDesc(desc);
        }
        info->ReleaseTypeAttr(attributes);
        return result;
    }

    ComPtr<ITypeLib> library_;
};

TEST_F(TypeLibrary, AttributesAndTypesInIndexOrder) {
    TLIBATTR* attributes = nullptr;
    ASSERT_HRESULT_SUCCEEDED(library_->GetLibAttr(&attributes));
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_EQ(attributes->lcid, 0u);
    EXPECT_EQ(attributes->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);  // the build's own platform
    library_->ReleaseTLibAttr(attributes);

    BSTR name = nullptr, help = nullptr;
    library_->GetDocumentation(-1, &name, &help, nullptr, nullptr);
    EXPECT_STREQ(name, L"TarnDriver");
    EXPECT_STREQ(help, L"TarnDriver 1.0 Type Library");
    ::SysFreeString(name);
    ::SysFreeString(help);

    const wchar_t* expected[] = {L"Rs232Driver",          L"IRs232Driver", L"_IRs232DigitalIoDriverEvents",
                                 L"IDriverEnumerator",    L"Rs232DigitalIoDriver", L"IRs232DigitalIoDriver",
                                 L"UsbDriver",            L"IUsbDriver",   L"ETNDevice",
                                 L"ETNLockType",          L"DriverEnumerator"};
    std::vector<std::wstring> actual;
    for (UINT i = 0; i < library_->GetTypeInfoCount(); ++i) {
        BSTR typeName = nullptr;
        library_->GetDocumentation(i, &typeName, nullptr, nullptr, nullptr);
        actual.push_back(typeName);
        ::SysFreeString(typeName);
    }
    EXPECT_EQ(actual, std::vector<std::wstring>(std::begin(expected), std::end(expected)));
}

TEST_F(TypeLibrary, DualInterfacesAreHiddenNonextensibleDuals) {
    for (const wchar_t* name : {L"IRs232Driver", L"IRs232DigitalIoDriver", L"IUsbDriver", L"IDriverEnumerator"}) {
        SCOPED_TRACE(testing::Message() << name);
        ComPtr<ITypeInfo> info = Type(name);
        ASSERT_TRUE(info);
        TYPEATTR* attributes = nullptr;
        info->GetTypeAttr(&attributes);
        EXPECT_EQ(attributes->typekind, TKIND_DISPATCH) << "the dispatch half of a dual interface";
        const WORD wanted = TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FHIDDEN;
        EXPECT_EQ(attributes->wTypeFlags & wanted, wanted);
        info->ReleaseTypeAttr(attributes);

        HREFTYPE vtableHalf = 0;
        ComPtr<ITypeInfo> vtable;
        ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeOfImplType(-1, &vtableHalf));
        ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeInfo(vtableHalf, vtable.put()));
        vtable->GetTypeAttr(&attributes);
        EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
        EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
        vtable->ReleaseTypeAttr(attributes);
    }
}

TEST_F(TypeLibrary, SerialDriverMembers) {
    auto functions = Functions(Type(L"IRs232Driver").get());
    const auto& open = functions.find(L"Open")->second;
    EXPECT_EQ(open.id, 100);
    EXPECT_EQ(open.help, L"method Open");
    EXPECT_EQ(open.parameters, (std::vector<std::wstring>{L"nPortNumber"})) << "the retval is no argument";
    EXPECT_EQ(functions.find(L"Write")->second.id, 110);
    EXPECT_EQ(functions.find(L"Read")->second.id, 120);
    EXPECT_EQ(functions.find(L"ReadAvailableBytes")->second.id, 121);
    EXPECT_EQ(functions.find(L"Close")->second.id, 130);
    EXPECT_EQ(functions.find(L"PortName")->second.id, 0);
    EXPECT_EQ(functions.find(L"PortNumber")->second.id, 1000);
    EXPECT_EQ(functions.count(L"BaudRate"), 2u) << "get and put";
}

TEST_F(TypeLibrary, OptionalArgumentsAndDefaults) {
    auto usb = Functions(Type(L"IUsbDriver").get());
    const auto& write = usb.find(L"VendorRequestWrite")->second;
    EXPECT_EQ(write.id, 103);
    ASSERT_EQ(write.flags.size(), 4u);
    EXPECT_EQ(write.types[0], VT_UI1);
    EXPECT_TRUE(write.flags[1] & PARAMFLAG_FOPT);
    EXPECT_EQ(write.defaults[1], L"0");
    EXPECT_EQ(write.defaults[2], L"0");
    EXPECT_TRUE(write.flags[3] & PARAMFLAG_FOPT);
    EXPECT_EQ(write.types[3], VT_VARIANT);
    const auto& lock = usb.find(L"Lock")->second;
    EXPECT_EQ(lock.id, 1000);
    EXPECT_EQ(lock.kind, INVOKE_PROPERTYGET);
    EXPECT_EQ(lock.parameters, (std::vector<std::wstring>{L"ETNLockType"}));
    const auto& endpoint = usb.find(L"ReadMainEndpoint")->second;
    EXPECT_TRUE((endpoint.flags[1] & (PARAMFLAG_FIN | PARAMFLAG_FOUT)) == (PARAMFLAG_FIN | PARAMFLAG_FOUT));

    auto enumerator = Functions(Type(L"IDriverEnumerator").get());
    const auto& ports = enumerator.find(L"EnumeratePorts")->second;
    EXPECT_EQ(ports.help, L"Enumerate ports");
    EXPECT_EQ(ports.parameters, (std::vector<std::wstring>{L"bstrPortFamily", L"ppbstrPortsAry", L"bstrOption",
                                                           L"varReserved1", L"varReserved2"}));
    EXPECT_EQ(ports.defaults[2], L"\"\"");
    EXPECT_TRUE(ports.flags[3] & PARAMFLAG_FOPT);
    EXPECT_TRUE(ports.flags[4] & PARAMFLAG_FOPT);
}

TEST_F(TypeLibrary, DigitalIoMembersAndEvents) {
    auto functions = Functions(Type(L"IRs232DigitalIoDriver").get());
    EXPECT_EQ(functions.find(L"SetDTR")->second.help, L"SetDTR");
    EXPECT_EQ(functions.find(L"GetDCD")->second.id, 220);
    EXPECT_EQ(functions.find(L"DebounceTime")->second.id, 1100);
    EXPECT_EQ(functions.find(L"DebounceTime")->second.help, L"Digital input debounce time");

    auto events = Functions(Type(L"_IRs232DigitalIoDriverEvents").get());
    EXPECT_EQ(events.find(L"OnText")->second.id, 1);
    EXPECT_EQ(events.find(L"OnText")->second.help, L"method OnText");
    EXPECT_EQ(events.find(L"OnDSR")->second.id, 2);
    EXPECT_EQ(events.find(L"OnCTS")->second.id, 3);
    EXPECT_EQ(events.find(L"OnDCD")->second.id, 4);
    EXPECT_EQ(events.find(L"OnRI")->second.id, 5);
    EXPECT_EQ(events.find(L"OnRI")->second.parameters, (std::vector<std::wstring>{L"nRI"}));
}

TEST_F(TypeLibrary, Enumerations) {
    ComPtr<ITypeInfo> locks = Type(L"ETNLockType");
    ASSERT_TRUE(locks);
    TYPEATTR* attributes = nullptr;
    locks->GetTypeAttr(&attributes);
    EXPECT_EQ(attributes->typekind, TKIND_ENUM);
    ASSERT_EQ(attributes->cVars, 8);
    locks->ReleaseTypeAttr(attributes);
    VARDESC* last = nullptr;
    locks->GetVarDesc(7, &last);
    EXPECT_EQ(last->lpvarValue->lVal, 7);
    BSTR name = nullptr;
    locks->GetDocumentation(last->memid, &name, nullptr, nullptr, nullptr);
    EXPECT_STREQ(name, L"etnltFrontend");
    ::SysFreeString(name);
    locks->ReleaseVarDesc(last);
}

}  // namespace
}  // namespace tarn::test
