#include "com/positional_arguments.h"

namespace tarn {
namespace {

// The description of the member `id` that `flags` call, or null.  Searched
// by position: the platform's index lookup by DISPID does not agree with
// GetFuncDesc on a dual interface's dispatch information.
FUNCDESC* FindFunction(ITypeInfo* info, DISPID id, WORD flags) noexcept {
    TYPEATTR* attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes))) return nullptr;
    const WORD count = attributes->cFuncs;
    info->ReleaseTypeAttr(attributes);
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* function = nullptr;
        if (FAILED(info->GetFuncDesc(i, &function))) continue;
        if (function->memid == id &&
            (((flags & DISPATCH_METHOD) && function->invkind == INVOKE_FUNC) ||
             ((flags & DISPATCH_PROPERTYGET) && function->invkind == INVOKE_PROPERTYGET)))
            return function;
        info->ReleaseFuncDesc(function);
    }
    return nullptr;
}

// Whether each parameter a caller may name for the member is optional, not
// counting a return value; false when the type information does not
// describe the member.
bool NameableParameters(ITypeInfo* info, DISPID id, WORD flags, std::vector<bool>& optional) noexcept {
    FUNCDESC* function = FindFunction(info, id, flags);
    if (!function) return false;
    bool listed = true;
    try {
        optional.clear();
        for (SHORT i = 0; i < function->cParams; ++i) {
            const USHORT parameterFlags = function->lprgelemdescParam[i].paramdesc.wParamFlags;
            if (parameterFlags & (PARAMFLAG_FRETVAL | PARAMFLAG_FLCID)) break;
            optional.push_back((parameterFlags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT)) != 0);
        }
    } catch (...) {
        listed = false;
    }
    info->ReleaseFuncDesc(function);
    return listed;
}

}  // namespace

HRESULT PositionalArguments::CopyAsTheyCame(const DISPPARAMS& params) noexcept {
    try {
        arguments_.assign(params.rgvarg, params.rgvarg + params.cArgs);
        callerIndex_.resize(params.cArgs);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    for (UINT i = 0; i < params.cArgs; ++i) callerIndex_[i] = i;
    params_ = params;
    params_.rgvarg = arguments_.data();
    return S_OK;
}

HRESULT PositionalArguments::Arrange(ITypeInfo* info, DISPID id, WORD flags, const DISPPARAMS& params,
                                     UINT* argumentError) noexcept {
    std::vector<bool> optional;
    if (params.cNamedArgs == 0 || !NameableParameters(info, id, flags, optional))
        return CopyAsTheyCame(params);

    // Where each parameter's argument stands in the caller's list, if given.
    const UINT positional = params.cArgs - params.cNamedArgs;
    if (positional > optional.size()) return DISP_E_BADPARAMCOUNT;
    std::vector<UINT> source;
    try {
        source.assign(optional.size(), kMissing);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    for (UINT p = 0; p < positional; ++p) source[p] = params.cArgs - 1 - p;
    UINT count = positional;
    for (UINT j = 0; j < params.cNamedArgs; ++j) {
        DISPID named = params.rgdispidNamedArgs[j];
        // A method called with a property put's flags: the put's value is
        // its last parameter, as the type information's dispatch binds it.
        if (named == DISPID_PROPERTYPUT) named = static_cast<DISPID>(source.size()) - 1;
        if (named < 0 || static_cast<size_t>(named) >= source.size() || source[named] != kMissing) {
            if (argumentError) *argumentError = j;
            return DISP_E_PARAMNOTFOUND;
        }
        source[named] = j;
        if (static_cast<UINT>(named) + 1 > count) count = static_cast<UINT>(named) + 1;
    }
    for (UINT p = 0; p < count; ++p) {
        if (source[p] == kMissing && !optional[p]) return DISP_E_PARAMNOTFOUND;
    }

    try {
        arguments_.resize(count);
        callerIndex_.resize(count);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    for (UINT p = 0; p < count; ++p) {  // arguments stand right to left
        VARIANTARG& argument = arguments_[count - 1 - p];
        callerIndex_[count - 1 - p] = source[p];
        if (source[p] != kMissing) {
            argument = params.rgvarg[source[p]];
        } else {
            argument.vt = VT_ERROR;
            argument.scode = DISP_E_PARAMNOTFOUND;
        }
    }
    params_ = DISPPARAMS{arguments_.data(), nullptr, count, 0};
    return S_OK;
}

UINT PositionalArguments::CallerIndex(UINT index) const noexcept {
    if (index >= callerIndex_.size() || callerIndex_[index] == kMissing) return index;
    return callerIndex_[index];
}

}  // namespace tarn
