// The x86 and x64 modules carry the same type library: the same types, names,
// DISPIDs, parameters, defaults and help strings, slot for slot.  Only the
// system kind differs.
// The other build's module is read as a file, so the check runs even where
// that architecture's programs cannot.
#include <sstream>
#include <string>
#include <vector>

#include "architectures/architecture_folders.h"

namespace tarn::test {
namespace {

// The type library reader gives vtable offsets in this process's pointer width,
// whichever width the library was built for.
constexpr size_t kPointerSize = sizeof(void*);

std::wstring Text(BSTR text) {
    std::wstring copy = text ? text : L"";
    ::SysFreeString(text);
    return copy;
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring DefaultText(const ELEMDESC& element) {
    if (!(element.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) || !element.paramdesc.pparamdescex) return L"";
    Variant value;
    if (FAILED(::VariantChangeType(&value, &element.paramdesc.pparamdescex->varDefaultValue, 0, VT_BSTR)))
        return L"?";
    return L"=" + std::wstring(value.bstrVal ? value.bstrVal : L"");
}

// One line per fact a client depends on, vtable offsets as slots.
std::vector<std::wstring> Describe(ITypeLib* library) {
    std::vector<std::wstring> lines;
    for (UINT index = 0; index < library->GetTypeInfoCount(); ++index) {
        ComPtr<ITypeInfo> info;
        if (FAILED(library->GetTypeInfo(index, info.put()))) {
            lines.push_back(L"type " + std::to_wstring(index) + L" unreadable");
            continue;
        }
        BSTR name = nullptr, help = nullptr;
        info->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr);
        TYPEATTR* type = nullptr;
        info->GetTypeAttr(&type);
        std::wostringstream line;
        line << index << L" " << Text(name) << L" " << GuidText(type->guid) << L" kind " << type->typekind
             << L" flags " << type->wTypeFlags << L" functions " << type->cFuncs << L" variables "
             << type->cVars << L" implements " << type->cImplTypes << L" slots " << type->cbSizeVft / kPointerSize
             << L" help '" << Text(help) << L"'";
        lines.push_back(line.str());
        for (UINT f = 0; f < type->cFuncs; ++f) {
            FUNCDESC* function = nullptr;
            if (FAILED(info->GetFuncDesc(f, &function))) continue;
            BSTR names[32] = {};
            UINT count = 0;
            info->GetNames(function->memid, names, 32, &count);
            BSTR functionHelp = nullptr;
            info->GetDocumentation(function->memid, nullptr, &functionHelp, nullptr, nullptr);
            std::wostringstream out;
            out << L"  " << function->memid << L" invoke " << function->invkind << L" kind " << function->funckind
                << L" slot " << function->oVft / kPointerSize << L" returns " << function->elemdescFunc.tdesc.vt
                << L" optional " << function->cParamsOpt << L" help '" << Text(functionHelp) << L"' (";
            for (UINT n = 0; n < count; ++n) out << (n ? L" " : L"") << Text(names[n]);
            out << L")";
            for (SHORT p = 0; p < function->cParams; ++p) {
                const ELEMDESC& parameter = function->lprgelemdescParam[p];
                out << L" [" << parameter.tdesc.vt << L"/" << parameter.paramdesc.wParamFlags
                    << DefaultText(parameter) << L"]";
            }
            lines.push_back(out.str());
            info->ReleaseFuncDesc(function);
        }
        for (UINT v = 0; v < type->cVars; ++v) {
            VARDESC* variable = nullptr;
            if (FAILED(info->GetVarDesc(v, &variable))) continue;
            BSTR variableName = nullptr;
            info->GetDocumentation(variable->memid, &variableName, nullptr, nullptr, nullptr);
            std::wostringstream out;
            out << L"  " << Text(variableName) << L" " << variable->memid;
            if (variable->varkind == VAR_CONST && variable->lpvarValue) {
                Variant value;
                if (SUCCEEDED(::VariantChangeType(&value, variable->lpvarValue, 0, VT_BSTR)))
                    out << L" = " << value.bstrVal;
            }
            lines.push_back(out.str());
            info->ReleaseVarDesc(variable);
        }
        info->ReleaseTypeAttr(type);
    }
    return lines;
}

struct LibraryIdentity {
    GUID guid;
    SYSKIND system;
    WORD major, minor;
};

LibraryIdentity IdentityOf(ITypeLib* library) {
    TLIBATTR* attributes = nullptr;
    library->GetLibAttr(&attributes);
    const LibraryIdentity identity{attributes->guid, attributes->syskind, attributes->wMajorVerNum,
                                   attributes->wMinorVerNum};
    library->ReleaseTLibAttr(attributes);
    return identity;
}

class TypeLibrariesOfBothArchitectures : public ComTest {};

TEST_F(TypeLibrariesOfBothArchitectures, AgreeInEverythingButPointerWidth) {
    const std::wstring own = BinFolderOf(kOwnArchitecture) + L"TarnDriver.DLL";
    const std::wstring other = BinFolderOf(kOtherArchitecture) + L"TarnDriver.DLL";
    ASSERT_TRUE(FileExists(other)) << "the other architecture's module is not built (./tarn build builds both)";

    ComPtr<ITypeLib> ownLibrary, otherLibrary;
    ASSERT_HRESULT_SUCCEEDED(::LoadTypeLibEx(own.c_str(), REGKIND_NONE, ownLibrary.put()));
    ASSERT_HRESULT_SUCCEEDED(::LoadTypeLibEx(other.c_str(), REGKIND_NONE, otherLibrary.put()));

    const LibraryIdentity mine = IdentityOf(ownLibrary.get());
    const LibraryIdentity theirs = IdentityOf(otherLibrary.get());
    EXPECT_EQ(mine.guid, LIBID_TarnDriver);
    EXPECT_EQ(theirs.guid, LIBID_TarnDriver);
    EXPECT_EQ(mine.system, kPointerSize == 8 ? SYS_WIN64 : SYS_WIN32);
    EXPECT_EQ(theirs.system, kPointerSize == 8 ? SYS_WIN32 : SYS_WIN64);
    EXPECT_EQ(mine.major, theirs.major);
    EXPECT_EQ(mine.minor, theirs.minor);

    const std::vector<std::wstring> ownLines = Describe(ownLibrary.get());
    const std::vector<std::wstring> otherLines = Describe(otherLibrary.get());
    ASSERT_GE(ownLines.size(), 11u + 40u) << "eleven types and their members";
    for (size_t i = 0; i < ownLines.size() && i < otherLines.size(); ++i)
        ASSERT_EQ(ownLines[i], otherLines[i]) << "first difference at line " << i;
    EXPECT_EQ(ownLines.size(), otherLines.size());
}

}  // namespace
}  // namespace tarn::test
