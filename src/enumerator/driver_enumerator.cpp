#include "enumerator/driver_enumerator.h"

#include <vector>

#include "automation/array_shape.h"
#include "automation/byte_array.h"
#include "automation/error_report.h"
#include "automation/hresult.h"
#include "automation/unique_bstr.h"
#include "automation/unique_variant.h"
#include "enumerator/registry_key.h"

namespace tarn {
namespace {

constexpr UINT kPortPrefixLength = 3;  // "COM"

// Whole-string comparison that folds only the letters A to Z.
bool EqualsFoldingAsciiLetters(BSTR text, const wchar_t* expected) noexcept {
    const UINT length = ::SysStringLen(text);
    if (length != wcslen(expected)) return false;
    for (UINT i = 0; i < length; ++i) {
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != expected[i]) return false;
    }
    return true;
}

// Whether the option asks for the names without their "COM"; E_OUTOFMEMORY
// when the option can't be copied, rather than taking it as not given.
HRESULT WantsRawNumbers(BSTR option, bool& raw) noexcept {
    raw = false;
    if (!option) return S_OK;
    UniqueBstr lowered = UniqueBstr::Copy(option);
    if (!lowered) return E_OUTOFMEMORY;
    ::CharLowerBuffW(lowered.get(), lowered.length());
    const wchar_t kRawNumbers[] = L"rawnumbers";
    raw = lowered.length() == wcslen(kRawNumbers) && wmemcmp(lowered.get(), kRawNumbers, lowered.length()) == 0;
    return S_OK;
}

// The port names of the system's serial-port map.  Values that are not
// strings name no port and are skipped; a name too short for the cut of the
// raw form becomes empty.  A key that can't be opened gives fewer names; memory
// that runs out gives E_OUTOFMEMORY, never a list with a port missing.
HRESULT ReadPortNames(bool raw, std::vector<UniqueBstr>& names) noexcept {
    RegistryKey key;
    key.Open(HKEY_LOCAL_MACHINE, L"Hardware", KEY_ALL_ACCESS);
    key.OpenBeneath(L"DeviceMap", KEY_ALL_ACCESS);
    key.OpenBeneath(L"SerialComm", KEY_ALL_ACCESS);

    DWORD count = 0;
    RETURN_IF_FAILED(key.ValueCount(count));
    for (DWORD i = 0; i < count; ++i) {
        UniqueVariant value;
        RETURN_IF_FAILED(key.ValueAt(i, value.get()));
        if (value.get()->vt != VT_BSTR) continue;
        const BSTR text = value.get()->bstrVal;
        const UINT length = ::SysStringLen(text);
        const UINT cut = raw ? (length < kPortPrefixLength ? length : kPortPrefixLength) : 0;
        UniqueBstr name = UniqueBstr::Copy(text + cut, length - cut);
        if (!name) return E_OUTOFMEMORY;
        try {
            names.push_back(std::move(name));
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    return S_OK;
}

// Whether `array` can take `count` names at the indexes 0 to count - 1 of its
// one dimension.
bool CanHold(SAFEARRAY* array, size_t count) noexcept {
    return ::SafeArrayGetDim(array) == 1 && DimensionLowerBound(array, 1) == 0 &&
           DimensionLength(array, 1) >= count && array->pvData;
}

}  // namespace

STDMETHODIMP DriverEnumerator::EnumeratePorts(BSTR bstrPortFamily, SAFEARRAY** ppbstrPortsAry,
                                              BSTR bstrOption, VARIANT /*varReserved1*/,
                                              VARIANT /*varReserved2*/) {
    if (!bstrPortFamily || !ppbstrPortsAry) return E_POINTER;
    if (!EqualsFoldingAsciiLetters(bstrPortFamily, L"serial"))
        return ReportError(ClassId(), L"Unknown Port Family", 0);

    // Everything that can run short is done before the caller's array is touched.
    bool raw = false;
    std::vector<UniqueBstr> names;
    RETURN_IF_FAILED(WantsRawNumbers(bstrOption, raw));
    RETURN_IF_FAILED(ReadPortNames(raw, names));

    SAFEARRAY* const given = *ppbstrPortsAry;
    SAFEARRAY* array = given;
    if (given) {
        VARTYPE type = VT_EMPTY;
        if (::SafeArrayGetDim(given) > 3 || FAILED(::SafeArrayGetVartype(given, &type)) || type != VT_BSTR)
            return E_INVALIDARG;
        // An array that can't take the whole list in place is replaced by one
        // that can, rather than written beyond its end; unless its owner did
        // not allow it to be destroyed.
        if (!CanHold(given, names.size())) {
            if (IsFixedInPlace(given)) return E_INVALIDARG;
            array = nullptr;
        }
    }
    UniqueSafeArray created;
    if (!array) {
        SAFEARRAYBOUND bound{static_cast<ULONG>(names.size()), 0};
        created.reset(::SafeArrayCreate(VT_BSTR, 1, &bound));
        if (!created) return E_OUTOFMEMORY;
        array = created.get();
    }
    if (given && array != given && FAILED(::SafeArrayDestroy(given))) return E_INVALIDARG;

    // The names move into the array: nothing is allocated from here on.
    for (LONG i = 0; i < static_cast<LONG>(names.size()); ++i) {
        void* slot = nullptr;
        if (FAILED(::SafeArrayPtrOfIndex(array, &i, &slot))) continue;
        BSTR& element = *static_cast<BSTR*>(slot);
        ::SysFreeString(element);  // what an array coming in held there
        element = names[i].release();
    }
    if (created) *ppbstrPortsAry = created.release();
    return S_OK;
}

}  // namespace tarn
