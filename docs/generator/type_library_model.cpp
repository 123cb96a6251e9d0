#include "type_library_model.h"

#include "automation/hresult.h"
#include "platform/com_ptr.h"

namespace tarn::docs {
namespace {

// Releases what ITypeInfo hands out with its own Release functions.
class TypeAttr {
public:
    explicit TypeAttr(ITypeInfo* info) : info_(info) { result_ = info_->GetTypeAttr(&attr_); }
    ~TypeAttr() { if (attr_) info_->ReleaseTypeAttr(attr_); }
    TypeAttr(const TypeAttr&) = delete;
    TypeAttr& operator=(const TypeAttr&) = delete;
    HRESULT result() const { return result_; }
    const TYPEATTR* operator->() const { return attr_; }

private:
    ITypeInfo* info_;
    TYPEATTR* attr_ = nullptr;
    HRESULT result_;
};

class FuncDesc {
public:
    FuncDesc(ITypeInfo* info, UINT index) : info_(info) { result_ = info_->GetFuncDesc(index, &desc_); }
    ~FuncDesc() { if (desc_) info_->ReleaseFuncDesc(desc_); }
    FuncDesc(const FuncDesc&) = delete;
    FuncDesc& operator=(const FuncDesc&) = delete;
    HRESULT result() const { return result_; }
    const FUNCDESC* operator->() const { return desc_; }

private:
    ITypeInfo* info_;
    FUNCDESC* desc_ = nullptr;
    HRESULT result_;
};

class VarDesc {
public:
    VarDesc(ITypeInfo* info, UINT index) : info_(info) { result_ = info_->GetVarDesc(index, &desc_); }
    ~VarDesc() { if (desc_) info_->ReleaseVarDesc(desc_); }
    VarDesc(const VarDesc&) = delete;
    VarDesc& operator=(const VarDesc&) = delete;
    HRESULT result() const { return result_; }
    const VARDESC* operator->() const { return desc_; }

private:
    ITypeInfo* info_;
    VARDESC* desc_ = nullptr;
    HRESULT result_;
};

std::wstring TakeBstr(BSTR text) {
    std::wstring result = text ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
    ::SysFreeString(text);
    return result;
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

void ReadNameAndHelp(ITypeInfo* info, MEMBERID id, std::wstring& name, std::wstring& help) {
    BSTR nameText = nullptr, helpText = nullptr;
    info->GetDocumentation(id, &nameText, &helpText, nullptr, nullptr);
    name = TakeBstr(nameText);
    help = TakeBstr(helpText);
}

std::wstring TypeName(ITypeInfo* info, const TYPEDESC& type) {
    switch (type.vt) {
    case VT_PTR: return TypeName(info, *type.lptdesc) + L"*";
    case VT_SAFEARRAY: return L"SAFEARRAY(" + TypeName(info, *type.lptdesc) + L")";
    case VT_USERDEFINED: {
        ComPtr<ITypeInfo> referenced;
        std::wstring name, help;
        if (SUCCEEDED(info->GetRefTypeInfo(type.hreftype, referenced.put())))
            ReadNameAndHelp(referenced.get(), MEMBERID_NIL, name, help);
        return name.empty() ? L"(unknown type)" : name;
    }
    case VT_I2: return L"short";
    case VT_I4: return L"long";
    case VT_UI1: return L"unsigned char";
    case VT_BOOL: return L"VARIANT_BOOL";
    case VT_BSTR: return L"BSTR";
    case VT_VARIANT: return L"VARIANT";
    case VT_DISPATCH: return L"IDispatch*";
    case VT_UNKNOWN: return L"IUnknown*";
    case VT_HRESULT: return L"HRESULT";
    case VT_VOID: return L"void";
    default: return L"(VARTYPE " + std::to_wstring(type.vt) + L")";
    }
}

std::wstring DefaultText(const VARIANT& value) {
    switch (value.vt) {
    case VT_BSTR: return L"\"" + std::wstring(value.bstrVal, ::SysStringLen(value.bstrVal)) + L"\"";
    case VT_I2: return std::to_wstring(value.iVal);
    case VT_I4: return std::to_wstring(value.lVal);
    case VT_BOOL: return value.boolVal ? L"True" : L"False";
    default: return L"(VARTYPE " + std::to_wstring(value.vt) + L")";
    }
}

MemberKind KindOf(INVOKEKIND kind) {
    switch (kind) {
    case INVOKE_PROPERTYGET: return MemberKind::PropertyGet;
    case INVOKE_PROPERTYPUT:
    case INVOKE_PROPERTYPUTREF: return MemberKind::PropertyPut;
    default: return MemberKind::Method;
    }
}

HRESULT ReadMember(ITypeInfo* info, UINT index, bool isEvent, Member& member) {
    FuncDesc func(info, index);
    RETURN_IF_FAILED(func.result());
    member.kind = isEvent ? MemberKind::Event : KindOf(func->invkind);
    member.dispid = func->memid;
    member.slot = isEvent ? 0 : static_cast<int>(func->oVft / sizeof(void*)) - 7 + 1;
    ReadNameAndHelp(info, func->memid, member.name, member.help);

    std::vector<BSTR> names(func->cParams + 1, nullptr);
    UINT found = 0;
    info->GetNames(func->memid, names.data(), static_cast<UINT>(names.size()), &found);
    for (SHORT i = 0; i < func->cParams; ++i) {
        const ELEMDESC& element = func->lprgelemdescParam[i];
        const USHORT flags = element.paramdesc.wParamFlags;
        Parameter parameter;
        // A property put's value has no name of its own (and GetNames may
        // answer with the get's names, which share the DISPID).
        const bool putValue = member.kind == MemberKind::PropertyPut && i == func->cParams - 1;
        parameter.name = !putValue && static_cast<UINT>(i + 1) < found && names[i + 1] ? names[i + 1] : L"value";
        parameter.type = TypeName(info, element.tdesc);
        parameter.in = (flags & PARAMFLAG_FIN) != 0;
        parameter.out = (flags & PARAMFLAG_FOUT) != 0;
        parameter.retval = (flags & PARAMFLAG_FRETVAL) != 0;
        parameter.optional = (flags & PARAMFLAG_FOPT) != 0;
        if ((flags & PARAMFLAG_FHASDEFAULT) && element.paramdesc.pparamdescex)
            parameter.defaultValue = DefaultText(element.paramdesc.pparamdescex->varDefaultValue);
        member.parameters.push_back(std::move(parameter));
    }
    for (BSTR name : names) ::SysFreeString(name);
    return S_OK;
}

HRESULT ReadInterface(ITypeInfo* info, bool isEvent, Interface& iface) {
    TypeAttr attr(info);
    RETURN_IF_FAILED(attr.result());
    iface.iid = GuidText(attr->guid);
    ReadNameAndHelp(info, MEMBERID_NIL, iface.name, iface.help);
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        Member member;
        RETURN_IF_FAILED(ReadMember(info, i, isEvent, member));
        iface.members.push_back(std::move(member));
    }
    return S_OK;
}

HRESULT ReadClass(ITypeInfo* info, Class& cls) {
    TypeAttr attr(info);
    RETURN_IF_FAILED(attr.result());
    cls.clsid = GuidText(attr->guid);
    ReadNameAndHelp(info, MEMBERID_NIL, cls.name, cls.help);
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
        INT flags = 0;
        HREFTYPE reference = 0;
        ComPtr<ITypeInfo> implemented;
        RETURN_IF_FAILED(info->GetImplTypeFlags(i, &flags));
        RETURN_IF_FAILED(info->GetRefTypeOfImplType(i, &reference));
        RETURN_IF_FAILED(info->GetRefTypeInfo(reference, implemented.put()));
        if (!(flags & IMPLTYPEFLAG_FDEFAULT)) continue;
        if (flags & IMPLTYPEFLAG_FSOURCE) {
            cls.hasEvents = true;
            RETURN_IF_FAILED(ReadInterface(implemented.get(), true, cls.events));
            continue;
        }
        // A dual interface is described twice; its vtable half has the slots
        // and the return values as parameters.
        ComPtr<ITypeInfo> vtableHalf;
        HREFTYPE vtableReference = 0;
        if (SUCCEEDED(implemented->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableReference)) &&
            SUCCEEDED(implemented->GetRefTypeInfo(vtableReference, vtableHalf.put())))
            implemented = vtableHalf;
        RETURN_IF_FAILED(ReadInterface(implemented.get(), false, cls.defaultInterface));
    }
    return S_OK;
}

HRESULT ReadEnumeration(ITypeInfo* info, Enumeration& enumeration) {
    TypeAttr attr(info);
    RETURN_IF_FAILED(attr.result());
    ReadNameAndHelp(info, MEMBERID_NIL, enumeration.name, enumeration.help);
    for (UINT i = 0; i < attr->cVars; ++i) {
        VarDesc var(info, i);
        RETURN_IF_FAILED(var.result());
        std::wstring name, help;
        ReadNameAndHelp(info, var->memid, name, help);
        const VARIANT* value = var->lpvarValue;
        long number = 0;
        if (value && value->vt == VT_I4) number = value->lVal;
        else if (value && value->vt == VT_INT) number = value->intVal;
        enumeration.values.emplace_back(name, number);
    }
    return S_OK;
}

}  // namespace

HRESULT ReadLibrary(ITypeLib* typeLibrary, Library& library) {
    TLIBATTR* attr = nullptr;
    RETURN_IF_FAILED(typeLibrary->GetLibAttr(&attr));
    library.libid = GuidText(attr->guid);
    library.major = attr->wMajorVerNum;
    library.minor = attr->wMinorVerNum;
    typeLibrary->ReleaseTLibAttr(attr);
    BSTR name = nullptr, help = nullptr;
    RETURN_IF_FAILED(typeLibrary->GetDocumentation(-1, &name, &help, nullptr, nullptr));
    library.name = TakeBstr(name);
    library.help = TakeBstr(help);

    for (UINT i = 0; i < typeLibrary->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        ComPtr<ITypeInfo> info;
        RETURN_IF_FAILED(typeLibrary->GetTypeInfoType(i, &kind));
        RETURN_IF_FAILED(typeLibrary->GetTypeInfo(i, info.put()));
        if (kind == TKIND_COCLASS) {
            Class cls;
            RETURN_IF_FAILED(ReadClass(info.get(), cls));
            library.classes.push_back(std::move(cls));
        } else if (kind == TKIND_ENUM) {
            Enumeration enumeration;
            RETURN_IF_FAILED(ReadEnumeration(info.get(), enumeration));
            library.enumerations.push_back(std::move(enumeration));
        }
    }
    return S_OK;
}

}  // namespace tarn::docs
