#include "host_dispatch.h"

#include <oleauto.h>

namespace tarn::host {

const VARIANT* Call::Argument(UINT index) const noexcept {
    if (index >= Count()) return nullptr;
    const VARIANT* argument = &params_->rgvarg[params_->cArgs - 1 - index];
    if (V_VT(argument) == (VT_BYREF | VT_VARIANT)) argument = V_VARIANTREF(argument);
    return argument;
}

bool Call::Has(UINT index) const noexcept {
    const VARIANT* argument = Argument(index);
    return argument && !(V_VT(argument) == VT_ERROR && V_ERROR(argument) == DISP_E_PARAMNOTFOUND);
}

HRESULT Call::Text(UINT index, std::wstring& text) const {
    text.clear();
    const VARIANT* argument = Argument(index);
    if (!argument) return DISP_E_PARAMNOTFOUND;
    if (V_VT(argument) == VT_NULL) {
        text = L"Null";
        return S_OK;
    }
    UniqueVariant converted;
    RETURN_IF_FAILED(::VariantChangeType(converted.get(), const_cast<VARIANT*>(argument), 0, VT_BSTR));
    text.assign(V_BSTR(converted.get()), ::SysStringLen(V_BSTR(converted.get())));
    return S_OK;
}

HRESULT Call::Long(UINT index, LONG& value) const noexcept {
    const VARIANT* argument = Argument(index);
    if (!argument) return DISP_E_PARAMNOTFOUND;
    UniqueVariant converted;
    RETURN_IF_FAILED(::VariantChangeType(converted.get(), const_cast<VARIANT*>(argument), 0, VT_I4));
    value = V_I4(converted.get());
    return S_OK;
}

HRESULT Call::Object(UINT index, IDispatch*& object) const noexcept {
    object = nullptr;
    const VARIANT* argument = Argument(index);
    if (!argument) return DISP_E_PARAMNOTFOUND;
    if (V_VT(argument) == VT_DISPATCH) object = V_DISPATCH(argument);
    else if (V_VT(argument) == (VT_BYREF | VT_DISPATCH) && V_DISPATCHREF(argument)) object = *V_DISPATCHREF(argument);
    return object ? S_OK : DISP_E_TYPEMISMATCH;
}

HRESULT Call::ReturnText(const std::wstring& text) const noexcept {
    if (!result_) return S_OK;
    BSTR copy = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!copy) return E_OUTOFMEMORY;
    V_VT(result_) = VT_BSTR;
    V_BSTR(result_) = copy;
    return S_OK;
}

HRESULT Call::ReturnLong(LONG value) const noexcept {
    if (!result_) return S_OK;
    V_VT(result_) = VT_I4;
    V_I4(result_) = value;
    return S_OK;
}

HRESULT Call::ReturnObject(IDispatch* object) const noexcept {
    if (!result_) return S_OK;
    if (object) object->AddRef();
    V_VT(result_) = VT_DISPATCH;
    V_DISPATCH(result_) = object;
    return S_OK;
}

HRESULT Call::Forward(IDispatch* object, DISPID id) const noexcept {
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, params_,
                          result_, exception_, nullptr);
}

HRESULT Call::Fail(const wchar_t* source, const std::wstring& description, HRESULT code) const noexcept {
    if (!exception_) return code;
    *exception_ = EXCEPINFO{};
    exception_->bstrSource = ::SysAllocString(source);
    exception_->bstrDescription = ::SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
    exception_->scode = code;
    return DISP_E_EXCEPTION;
}

}  // namespace tarn::host
