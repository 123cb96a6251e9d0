#include "arguments.h"

#include <oleauto.h>

namespace tarn::host {
namespace {

const wchar_t kSource[] = L"WScript.Arguments";

// The enumerator of For Each: each argument as a string, in order.
class ArgumentEnumerator : public IEnumVARIANT {
public:
    using Interfaces = InterfaceTable<Entry<IEnumVARIANT>>;
    static constexpr bool kAtomicRefCount = false;

    ArgumentEnumerator(ArgumentList list, size_t next) : list_(std::move(list)), next_(next) {}

    STDMETHODIMP Next(ULONG count, VARIANT* values, ULONG* fetched) override {
        if (!values) return E_POINTER;
        ULONG given = 0;
        for (; given < count && next_ < list_->size(); ++given, ++next_) {
            const std::wstring& text = (*list_)[next_];
            ::VariantInit(&values[given]);
            V_BSTR(&values[given]) = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            if (!V_BSTR(&values[given])) {
                for (ULONG i = 0; i < given; ++i) ::VariantClear(&values[i]);
                return E_OUTOFMEMORY;
            }
            V_VT(&values[given]) = VT_BSTR;
        }
        if (fetched) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        const size_t left = list_->size() - next_;
        next_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        next_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumVARIANT** copy) override {
        if (!copy) return E_POINTER;
        *copy = new (std::nothrow) ComObject<ArgumentEnumerator>(list_, next_);
        if (!*copy) return E_OUTOFMEMORY;
        (*copy)->AddRef();
        return S_OK;
    }

private:
    ArgumentList list_;
    size_t next_;
};

}  // namespace

const Member<Arguments> Arguments::kMembers[] = {
    {L"Item", DISPID_VALUE, &Arguments::Item},
    {L"Count", 1, &Arguments::Count},
    {L"length", 2, &Arguments::Count},
    {L"_NewEnum", DISPID_NEWENUM, &Arguments::NewEnum},
};
const size_t Arguments::kMemberCount = sizeof(kMembers) / sizeof(kMembers[0]);

HRESULT Arguments::Item(const Call& call) {
    LONG index = 0;
    if (FAILED(call.Long(0, index))) return call.Fail(kSource, L"Item needs an index", DISP_E_TYPEMISMATCH);
    if (index < 0 || static_cast<size_t>(index) >= list_->size())
        return call.Fail(kSource, L"Subscript out of range", DISP_E_BADINDEX);
    return call.ReturnText((*list_)[static_cast<size_t>(index)]);
}

HRESULT Arguments::Count(const Call& call) {
    return call.ReturnLong(static_cast<LONG>(list_->size()));
}

HRESULT Arguments::NewEnum(const Call& call) {
    if (!call.Result()) return S_OK;
    auto* enumerator = new ComObject<ArgumentEnumerator>(list_, 0);
    enumerator->AddRef();
    V_VT(call.Result()) = VT_UNKNOWN;
    V_UNKNOWN(call.Result()) = enumerator;
    return S_OK;
}

}  // namespace tarn::host
