#include "enumerator/driver_enumerator.h"

#include <vector>

#include "automation/array_shape.h"
#include "automation/byte_array.h"
#include "automation/error_report.h"
#include "automation/unique_bstr.h"
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

bool WantsRawNumbers(BSTR option) noexcept {
    if (!option) return false;
    UniqueBstr lowered = UniqueBstr::Copy(option);
    if (!lowered) return false;
    ::CharLowerBuffW(lowered.get(), lowered.length());
    const wchar_t kRawNumbers[] = L"rawnumbers";
    return lowered.length() == wcslen(kRawNumbers) && wmemcmp(lowered.get(), kRawNumbers, lowered.length()) == 0;
}

// The port names of the system's serial-port map.  Values that are not
// strings name no port and are skipped; a name too short for the cut of the
// raw form becomes empty.  A name that can't be stored for lack of memory is
// left out.
std::vector<UniqueBstr> ReadPortNames(bool raw) noexcept {
    RegistryKey key;
    key.Open(HKEY_LOCAL_MACHINE, L"Hardware", KEY_ALL_ACCESS);
    key.OpenBeneath(L"DeviceMap", KEY_ALL_ACCESS);
    key.OpenBeneath(L"SerialComm", KEY_ALL_ACCESS);

    std::vector<UniqueBstr> names;
    const DWORD count = key.ValueCount();
    for (DWORD i = 0; i < count; ++i) {
        VARIANT value;
        key.ValueAt(i, &value);
        if (value.vt == VT_BSTR) {
            const UINT length = ::SysStringLen(value.bstrVal);
            const UINT cut = raw ? (length < kPortPrefixLength ? length : kPortPrefixLength) : 0;
            UniqueBstr name = UniqueBstr::Copy(value.bstrVal + cut, length - cut);
            if (name) {
                try {
                    names.push_back(std::move(name));
                } catch (...) {
                }
            }
        }
        ::VariantClear(&value);
    }
    return names;
}

// Whether `array` can take `count` names at the indexes 0 to count - 1 of its
// one dimension.
bool CanHold(SAFEARRAY* array, size_t count) noexcept {
    LONG lower = 0;
    ULONG length = 0;
    if (::SafeArrayGetDim(array) != 1 || FAILED(::SafeArrayGetLBound(array, 1, &lower)) ||
        !DimensionLength(array, 1, length))
        return false;
    return lower == 0 && length >= count && array->pvData;
}

}  // namespace

STDMETHODIMP DriverEnumerator::EnumeratePorts(BSTR bstrPortFamily, SAFEARRAY** ppbstrPortsAry,
                                              BSTR bstrOption, VARIANT /*varReserved1*/,
                                              VARIANT /*varReserved2*/) {
    if (!bstrPortFamily || !ppbstrPortsAry) return E_POINTER;
    if (!EqualsFoldingAsciiLetters(bstrPortFamily, L"serial"))
        return ReportError(ClassId(), L"Unknown Port Family", 0);

    const std::vector<UniqueBstr> names = ReadPortNames(WantsRawNumbers(bstrOption));

    SAFEARRAY* array = *ppbstrPortsAry;
    if (array) {
        VARTYPE type = VT_EMPTY;
        if (::SafeArrayGetDim(array) > 3 || FAILED(::SafeArrayGetVartype(array, &type)) || type != VT_BSTR)
            return E_INVALIDARG;
        // An array that can't take the whole list in place is replaced by one
        // that can, rather than written beyond its end.
        if (!CanHold(array, names.size())) {
            // Unless its owner did not allow it to be destroyed.
            if (IsFixedInPlace(array) || FAILED(::SafeArrayDestroy(array))) return E_INVALIDARG;
            *ppbstrPortsAry = array = nullptr;
        }
    }
    UniqueSafeArray created;
    if (!array) {
        SAFEARRAYBOUND bound{static_cast<ULONG>(names.size()), 0};
        created.reset(::SafeArrayCreate(VT_BSTR, 1, &bound));
        if (!created) return E_OUTOFMEMORY;
        array = created.get();
    }

    for (LONG i = 0; i < static_cast<LONG>(names.size()); ++i) {
        void* slot = nullptr;
        if (FAILED(::SafeArrayPtrOfIndex(array, &i, &slot))) continue;
        BSTR& element = *static_cast<BSTR*>(slot);
        ::SysFreeString(element);  // what an array coming in held there
        element = ::SysAllocStringLen(names[i].get(), names[i].length());
    }
    if (created) *ppbstrPortsAry = created.release();
    return S_OK;
}

}  // namespace tarn
