#include "hostile_values.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tarn::fuzz {
namespace {

constexpr size_t kGuard = 64;           // bytes on each side of guarded data
constexpr BYTE kGuardByte = 0xFD;
constexpr size_t kMostDataBytes = 64 * 1024;

const VARTYPE kScalars[] = {VT_EMPTY, VT_NULL, VT_I2,  VT_I4,   VT_R4,   VT_R8,   VT_CY,  VT_DATE,
                            VT_BSTR,  VT_BSTR, VT_BSTR, VT_DISPATCH, VT_ERROR, VT_BOOL, VT_UNKNOWN,
                            VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT,
                            VT_I4, VT_I4, VT_I4, VT_I2, VT_UI1};
// Types no Automation value has by itself: the callee must refuse, not follow them.
const VARTYPE kInvalid[] = {VT_VARIANT, VT_VOID, VT_HRESULT, VT_PTR, VT_LPSTR, VT_LPWSTR, VT_CLSID,
                            VT_RECORD, 0x0FFF, 15};
const VARTYPE kElements[] = {VT_UI1, VT_UI1, VT_UI1, VT_UI1, VT_I1, VT_I2,   VT_I4,   VT_R4,  VT_R8,
                             VT_CY,  VT_DATE, VT_BSTR, VT_BSTR, VT_DISPATCH, VT_ERROR, VT_BOOL,
                             VT_VARIANT, VT_VARIANT, VT_UNKNOWN, VT_DECIMAL, VT_UI2, VT_UI4, VT_I8,
                             VT_UI8, VT_INT, VT_UINT};
const LONG kLowerBounds[] = {0, 0, 0, 1, -1, 5, LONG_MAX, LONG_MIN, LONG_MAX - 1, LONG_MIN + 1, -3};
const ULONG kLengths[] = {0, 1, 1, 2, 3, 4, 5, 8, 16, 100};
const LONG kLongs[] = {0, 1, -1, 2, 3, 7, 8, 21, 22, 23, 24, 100, 255, 256, 1000, 1100, 65535, 9600,
                       LONG_MAX, LONG_MIN, 0x7FFF, -0x8000};
const wchar_t* const kTexts[] = {L"", L"COM21", L"COM22", L"\\\\.\\COM23", L"\\\\.\\COM24", L"serial",
                                 L"Serial", L"rawnumbers", L"usb", L"x", L"COM", L"COM99999999999",
                                 L"\\\\.\\COM0", L"Open", L"12", L"-1", L"1e400", L"PortName"};

bool OwnsMemory(VARTYPE element) {
    return element == VT_BSTR || element == VT_VARIANT || element == VT_UNKNOWN || element == VT_DISPATCH;
}

ULONGLONG Cells(const SAFEARRAYBOUND* bounds, UINT dims) {
    ULONGLONG cells = 1;
    for (UINT i = 0; i < dims; ++i) cells *= bounds[i].cElements;
    return cells;
}

// Releases what owning elements hold in data we allocated ourselves.
void ClearElements(VARTYPE element, BYTE* data, ULONGLONG cells) {
    for (ULONGLONG i = 0; i < cells; ++i) {
        switch (element) {
            case VT_BSTR: ::SysFreeString(reinterpret_cast<BSTR*>(data)[i]); break;
            case VT_VARIANT: ::VariantClear(&reinterpret_cast<VARIANT*>(data)[i]); break;
            case VT_UNKNOWN:
            case VT_DISPATCH:
                if (IUnknown* p = reinterpret_cast<IUnknown**>(data)[i]) p->Release();
                break;
            default: return;
        }
    }
}

}  // namespace

std::string DescribeType(VARTYPE vt) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", vt);
    return text;
}

bool IsClearable(const VARIANT& value, std::string& why) {
    const VARTYPE base = value.vt & VT_TYPEMASK;
    if (value.vt & ~(VT_TYPEMASK | VT_ARRAY)) {
        why = "handed out by reference or as a vector: " + DescribeType(value.vt);
        return false;
    }
    const bool automation = base <= VT_UINT && base != 15 && (base != VT_VARIANT || (value.vt & VT_ARRAY));
    if (!automation) {
        why = "not an Automation type: " + DescribeType(value.vt);
        return false;
    }
    if (value.vt & VT_ARRAY) {
        SAFEARRAY* array = value.parray;
        if (!array) return true;
        if (array->cDims == 0 || array->cLocks != 0) {
            why = "array with " + std::to_string(array->cDims) + " dimensions and " +
                  std::to_string(array->cLocks) + " locks";
            return false;
        }
        VARTYPE element = VT_EMPTY;
        if (SUCCEEDED(::SafeArrayGetVartype(array, &element)) && element != base) {
            why = "array of " + DescribeType(element) + " in a VARIANT of " + DescribeType(value.vt);
            return false;
        }
    }
    return true;
}

Arena::~Arena() {
    for (Variable& variable : variables_) {
        VARIANT* value = variable.value.get();
        if (variable.locked && (value->vt & VT_ARRAY) && value->parray == variable.locked)
            ::SafeArrayUnlock(variable.locked);
        std::string why;
        if (IsClearable(*value, why)) ::VariantClear(value);
    }
    for (Array& entry : arrays_) {
        if (!entry.released) FreeArray(entry);
    }
    for (auto& [slot, original] : stringSlots_) {
        if (*slot != original) ::SysFreeString(*slot);  // the callee's; the original is then its business
        else ::SysFreeString(original);
    }
    for (auto& [slot, original] : objectSlots_) {
        if (*slot != original && *slot) (*slot)->Release();
    }
    for (BSTR text : strings_) ::SysFreeString(text);
}

void Arena::FreeArray(Array& entry) {
    SAFEARRAY* array = entry.array;
    for (ULONG i = 0; i < entry.before.cLocks; ++i)  // only our own locks
        if (FAILED(::SafeArrayUnlock(array))) break;
    array->fFeatures &= ~(FADF_FIXEDSIZE | FADF_STATIC | FADF_EMBEDDED);
    if (entry.buffer) {
        VARTYPE element = VT_EMPTY;
        ::SafeArrayGetVartype(array, &element);
        ClearElements(element, entry.buffer + kGuard, entry.dataBytes / (array->cbElements ? array->cbElements : 1));
        if (array->cDims == 0) array->cDims = 1;
        array->pvData = nullptr;
        array->fFeatures &= ~FADF_AUTO;
        ::SafeArrayDestroyDescriptor(array);
        delete[] entry.buffer;
    } else {
        ::SafeArrayDestroy(array);
    }
    if (entry.slot && *entry.slot == array) *entry.slot = nullptr;
}

namespace {

// An array the callee handed back in a slot of ours: valid, and ours to destroy.
void TakeHandedBack(SAFEARRAY* handed, std::vector<std::string>& problems) {
    VARIANT wrapped;
    VARTYPE element = VT_EMPTY;
    ::SafeArrayGetVartype(handed, &element);
    wrapped.vt = VT_ARRAY | element;
    wrapped.parray = handed;
    std::string why;
    if (!IsClearable(wrapped, why)) problems.push_back("array handed back: " + why);
    else if (FAILED(::SafeArrayDestroy(handed))) problems.push_back("array handed back can't be destroyed");
}

}  // namespace

std::vector<std::string> Arena::Check() {
    std::vector<std::string> problems;
    for (Array& entry : arrays_) {
        if (entry.released) continue;
        if (entry.slot && *entry.slot != entry.array) {
            entry.released = true;  // destroyed and replaced by the callee, or lost
            if (entry.pinned) problems.push_back("a pinned array (locked, fixed or the caller's memory) was replaced");
            SAFEARRAY* handed = *entry.slot;
            *entry.slot = nullptr;
            if (handed) TakeHandedBack(handed, problems);
            continue;
        }
        const SAFEARRAY* now = entry.array;
        const SAFEARRAY& was = entry.before;
        // An array by reference that the callee destroyed and replaced may
        // come back at the same address: a new shape there is a new array.
        if (entry.slot && !entry.pinned &&
            (now->cDims != was.cDims || now->cbElements != was.cbElements || now->pvData != was.pvData)) {
            entry.released = true;
            *entry.slot = nullptr;
            TakeHandedBack(entry.array, problems);
            continue;
        }
        if (now->cDims != was.cDims || now->fFeatures != was.fFeatures || now->cbElements != was.cbElements ||
            now->cLocks != was.cLocks || now->pvData != was.pvData ||
            memcmp(now->rgsabound, entry.bounds, sizeof(SAFEARRAYBOUND) * (was.cDims ? was.cDims : 1)) != 0)
            problems.push_back("the caller's array descriptor changed: dims " + std::to_string(was.cDims) + "->" +
                               std::to_string(now->cDims) + ", features " + DescribeType(was.fFeatures) + "->" +
                               DescribeType(now->fFeatures) + ", locks " + std::to_string(was.cLocks) + "->" +
                               std::to_string(now->cLocks) + (now->pvData != was.pvData ? ", data moved" : ""));
        if (entry.buffer) {
            const BYTE* after = entry.buffer + kGuard + entry.dataBytes;
            for (size_t i = 0; i < kGuard; ++i) {
                if (entry.buffer[i] != kGuardByte || after[i] != kGuardByte) {
                    problems.push_back("written outside the caller's array data");
                    break;
                }
            }
        }
    }
    for (Variable& variable : variables_) {
        VARIANT* value = variable.value.get();
        if (variable.locked) {
            if ((value->vt & VT_ARRAY) && value->parray == variable.locked) ::SafeArrayUnlock(variable.locked);
            else problems.push_back("a locked array in the caller's variable was replaced");
            variable.locked = nullptr;  // our lock is undone (or the array is gone)
        }
        std::string why;
        if (!IsClearable(*value, why)) problems.push_back("the caller's variable: " + why);
    }
    return problems;
}

void* Arena::Slot(size_t bytes) {
    slots_.emplace_back(new BYTE[bytes < 32 ? 32 : bytes]());
    return slots_.back().get();
}

BSTR Arena::String(Rng& rng, bool owned) {
    BSTR text = nullptr;
    switch (rng.Below(12)) {
        case 0: return nullptr;
        case 1: {  // huge
            const UINT length = rng.OneIn(4) ? 1u << 20 : 70000u;
            text = ::SysAllocStringLen(nullptr, length);
            if (text) wmemset(text, L'7', length);
            break;
        }
        case 2: {  // embedded zeros and odd characters
            const wchar_t odd[] = {L'C', L'O', L'M', 0, L'2', 0xD800, 0xFFFF, L'\\'};
            text = ::SysAllocStringLen(odd, 8);
            break;
        }
        case 3: text = ::SysAllocStringByteLen("\x01\x02\x03", 3); break;  // odd byte length
        default: text = ::SysAllocString(rng.Pick(kTexts)); break;
    }
    if (owned && text) strings_.push_back(text);
    return text;
}

VARIANT Arena::Scalar(Rng& rng, VARTYPE type, bool owned) {
    VARIANT v;
    ::VariantInit(&v);
    switch (type) {
        case VT_BSTR: v.bstrVal = String(rng, owned); break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            v.pdispVal = rng.OneIn(2) || objects_.empty() ? nullptr : objects_[rng.Below(objects_.size())];
            if (v.pdispVal && !owned) v.pdispVal->AddRef();
            break;
        case VT_ERROR: v.scode = rng.OneIn(2) ? DISP_E_PARAMNOTFOUND : static_cast<SCODE>(rng.Next()); break;
        case VT_BOOL: v.boolVal = rng.OneIn(3) ? VARIANT_TRUE : static_cast<VARIANT_BOOL>(rng.Below(3)); break;
        case VT_R4: v.fltVal = rng.OneIn(4) ? NAN : static_cast<float>(rng.Pick(kLongs)) * 1.5f; break;
        case VT_R8:
        case VT_DATE: {
            const double values[] = {0, 1.5, -1, 1e300, -1e300, INFINITY, NAN, 21, 2147483648.0, 4096};
            v.dblVal = rng.Pick(values);
            break;
        }
        case VT_DECIMAL:
            v.llVal = static_cast<LONGLONG>(rng.Next());
            v.decVal.signscale = static_cast<USHORT>(rng.Below(3) == 0 ? rng.Next() : 0);
            v.decVal.Hi32 = rng.OneIn(2) ? 0 : static_cast<ULONG>(rng.Next());
            break;
        default:
            v.llVal = rng.OneIn(3) ? static_cast<LONGLONG>(rng.Next()) : rng.Pick(kLongs);
            break;
    }
    v.vt = type;  // last: a DECIMAL's fields share the type's place
    return v;
}

void Arena::Fill(Rng& rng, SAFEARRAY* array, VARTYPE element) {
    void* data = nullptr;
    if (FAILED(::SafeArrayAccessData(array, &data)) || !data) return;
    ULONGLONG count = 1;
    for (UINT i = 0; i < array->cDims; ++i) count *= array->rgsabound[i].cElements;
    const ULONGLONG touched = count < 4 ? count : 4;
    for (ULONGLONG i = 0; i < touched; ++i) {
        switch (element) {
            case VT_BSTR: static_cast<BSTR*>(data)[i] = String(rng, false); break;
            case VT_VARIANT: static_cast<VARIANT*>(data)[i] = Scalar(rng, rng.Pick(kScalars), false); break;
            case VT_UNKNOWN:
            case VT_DISPATCH:
                if (!objects_.empty() && rng.OneIn(2)) {
                    IDispatch* object = objects_[rng.Below(objects_.size())];
                    object->AddRef();
                    static_cast<IDispatch**>(data)[i] = object;
                }
                break;
            default:
                for (ULONG b = 0; b < array->cbElements; ++b)
                    static_cast<BYTE*>(data)[i * array->cbElements + b] = static_cast<BYTE>(rng.Next());
        }
    }
    ::SafeArrayUnaccessData(array);
}

SAFEARRAY* Arena::NewArray(Rng& rng, VARTYPE element, bool forVariable, bool& pinned) {
    pinned = false;
    UINT dims = rng.Below(4);
    SAFEARRAYBOUND bounds[3];  // dimension 1 first, as SafeArrayCreate takes them
    for (UINT i = 0; i < 3; ++i) {
        bounds[i].cElements = rng.Pick(kLengths);
        bounds[i].lLbound = rng.OneIn(8) ? static_cast<LONG>(rng.Next()) : rng.Pick(kLowerBounds);
    }
    if (dims == 1 && element == VT_UI1 && rng.OneIn(10)) bounds[0].cElements = 4096;
    ULONG size = 0;
    {
        SAFEARRAY* probe = nullptr;
        if (FAILED(::SafeArrayAllocDescriptorEx(element, 1, &probe))) return nullptr;
        size = probe->cbElements;
        ::SafeArrayDestroyDescriptor(probe);
    }
    for (UINT d = dims; d-- > 0 && Cells(bounds, dims) * size > kMostDataBytes;) bounds[d].cElements = 1;

    const bool guarded = !forVariable && (dims == 0 || rng.OneIn(3));
    if (guarded) {
        SAFEARRAY* array = nullptr;
        if (FAILED(::SafeArrayAllocDescriptorEx(element, dims ? dims : 1, &array))) return nullptr;
        for (UINT i = 0; i < dims; ++i) array->rgsabound[dims - 1 - i] = bounds[i];  // stored last dimension first
        if (dims == 0) array->rgsabound[0] = {0, 0};
        const size_t dataBytes = dims ? static_cast<size_t>(Cells(bounds, dims)) * size : 0;
        BYTE* buffer = new BYTE[dataBytes + 2 * kGuard];
        memset(buffer, kGuardByte, dataBytes + 2 * kGuard);
        memset(buffer + kGuard, 0, dataBytes);
        if (!OwnsMemory(element))
            for (size_t i = 0; i < dataBytes; ++i) buffer[kGuard + i] = static_cast<BYTE>(rng.Next());
        array->pvData = buffer + kGuard;
        array->fFeatures |= FADF_AUTO;  // the memory is ours: no one else may free it
        array->cDims = static_cast<USHORT>(dims);
        if (rng.OneIn(5)) ::SafeArrayLock(array);
        pinned = true;
        Array entry{array, nullptr, *array, {}, buffer, dataBytes, true, false};
        memcpy(entry.bounds, array->rgsabound, sizeof(SAFEARRAYBOUND) * (dims ? dims : 1));
        arrays_.push_back(entry);
        return array;
    }
    if (dims == 0) dims = 1;
    SAFEARRAY* array = ::SafeArrayCreate(element, dims, bounds);
    if (!array) return nullptr;
    Fill(rng, array, element);
    if (!forVariable) {
        if (rng.OneIn(6)) {
            ::SafeArrayLock(array);
            pinned = true;
        }
        if (rng.OneIn(8)) {
            const USHORT kPins[] = {FADF_FIXEDSIZE, FADF_STATIC, FADF_EMBEDDED};
            array->fFeatures |= rng.Pick(kPins);
            pinned = true;
        }
        Array entry{array, nullptr, *array, {}, nullptr, 0, pinned, false};
        memcpy(entry.bounds, array->rgsabound, sizeof(SAFEARRAYBOUND) * dims);
        arrays_.push_back(entry);
    }
    return array;
}

VARIANTARG Arena::Value(Rng& rng) {
    VARIANTARG v;
    ::VariantInit(&v);
    const uint32_t form = rng.Below(100);
    if (form < 36) return Scalar(rng, rng.Pick(kScalars), true);
    if (form < 40) {
        v.vt = rng.Pick(kInvalid);
        v.llVal = 0;
        return v;
    }
    if (form < 58) {  // an array by value, or none
        const VARTYPE element = rng.Pick(kElements);
        bool pinned = false;
        v.vt = VT_ARRAY | element;
        v.parray = rng.OneIn(10) ? nullptr : NewArray(rng, element, false, pinned);
        return v;
    }
    if (form < 72) {  // an array by reference: the slot may come back replaced
        const VARTYPE element = rng.Pick(kElements);
        v.vt = VT_BYREF | VT_ARRAY | element;
        if (rng.OneIn(8)) {
            v.pparray = nullptr;
            return v;
        }
        auto* slot = static_cast<SAFEARRAY**>(Slot(sizeof(SAFEARRAY*)));
        bool pinned = false;
        *slot = rng.OneIn(6) ? nullptr : NewArray(rng, element, false, pinned);
        if (*slot) arrays_.back().slot = slot;
        v.pparray = slot;
        return v;
    }
    if (form < 88) {  // a script variable: VT_BYREF | VT_VARIANT
        v.vt = VT_BYREF | VT_VARIANT;
        if (rng.OneIn(10)) {
            v.pvarVal = nullptr;
            return v;
        }
        Variable variable{std::make_unique<VARIANT>(), nullptr};
        ::VariantInit(variable.value.get());
        if (rng.OneIn(2)) {
            *variable.value = Scalar(rng, rng.Pick(kScalars), false);
        } else {
            const VARTYPE element = rng.OneIn(2) ? VT_VARIANT : rng.Pick(kElements);
            bool pinned = false;
            SAFEARRAY* array = NewArray(rng, element, true, pinned);
            if (array) {
                variable.value->vt = VT_ARRAY | element;
                variable.value->parray = array;
                if (rng.OneIn(4)) {  // inside a For Each over it
                    ::SafeArrayLock(array);
                    variable.locked = array;
                }
            }
        }
        v.pvarVal = variable.value.get();
        variables_.push_back(std::move(variable));
        return v;
    }
    // A scalar by reference, sometimes with no target.
    const VARTYPE type = rng.Pick(kScalars);
    if (type == VT_EMPTY || type == VT_NULL) return Scalar(rng, type, true);
    v.vt = VT_BYREF | type;
    if (rng.OneIn(4)) {
        v.byref = nullptr;
        return v;
    }
    void* target = Slot(sizeof(VARIANT));
    const VARIANT value = Scalar(rng, type, false);
    if (type == VT_DECIMAL) memcpy(target, &value.decVal, sizeof(DECIMAL));
    else memcpy(target, &value.llVal, sizeof(LONGLONG));
    if (type == VT_BSTR) stringSlots_.emplace_back(static_cast<BSTR*>(target), value.bstrVal);
    if (type == VT_UNKNOWN || type == VT_DISPATCH) {
        if (value.punkVal) value.punkVal->Release();  // the slot holds it without a reference
        objectSlots_.emplace_back(static_cast<IUnknown**>(target), value.punkVal);
    }
    v.byref = target;
    return v;
}

}  // namespace tarn::fuzz
