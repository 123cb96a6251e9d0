#include "byte_array.h"

namespace tarn {

namespace {
constexpr VARTYPE kUnsignedBytes = VT_ARRAY | VT_UI1;  // 0x2011
constexpr VARTYPE kSignedBytes = VT_ARRAY | VT_I1;     // 0x2010

// Element count of dimension 1 from its bounds; false when they can't be read.
bool ElementCount(SAFEARRAY* array, ULONG& count) noexcept {
    LONG lower = 0, upper = -1;
    if (FAILED(::SafeArrayGetLBound(array, 1, &lower)) ||
        FAILED(::SafeArrayGetUBound(array, 1, &upper)))
        return false;
    count = static_cast<ULONG>(upper - lower + 1);
    return true;
}
}  // namespace

bool SafeArrayDataAccess::Open(SAFEARRAY* array) noexcept {
    if (array_ || !array || FAILED(::SafeArrayAccessData(array, &data_))) return false;
    array_ = array;
    return true;
}

SafeArrayDataAccess::~SafeArrayDataAccess() {
    if (array_) ::SafeArrayUnaccessData(array_);
}

ByteArrayInput::ByteArrayInput(const VARIANT& value, Dimensions required) noexcept {
    if (value.vt != kUnsignedBytes && value.vt != kSignedBytes) return;
    SAFEARRAY* array = value.parray;
    const UINT dims = array ? ::SafeArrayGetDim(array) : 0;
    if (required == Dimensions::ExactlyOne && dims != 1) return;
    if (!array || dims == 0) return;
    if (!ElementCount(array, size_) || !access_.Open(array)) {
        size_ = 0;
        return;
    }
    ok_ = true;
}

UniqueSafeArray CreateByteArray(LONG count) noexcept {
    if (count < 0) return UniqueSafeArray();
    SAFEARRAYBOUND bound{static_cast<ULONG>(count), 0};
    return UniqueSafeArray(::SafeArrayCreate(VT_UI1, 1, &bound));
}

void HandOutByteArray(UniqueSafeArray array, VARIANT* out) noexcept {
    out->vt = kUnsignedBytes;
    out->parray = array.release();
}

HRESULT CheckInPlaceByteArray(SAFEARRAY* array, LONG count) noexcept {
    ULONG elements = 0;
    if (!array || ::SafeArrayGetDim(array) != 1 || !ElementCount(array, elements))
        return E_INVALIDARG;
    if (count < 0 || static_cast<ULONG>(count) > elements) return E_INVALIDARG;
    return S_OK;
}

}  // namespace tarn
