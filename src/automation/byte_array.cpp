#include "byte_array.h"

#include "automation/array_shape.h"

namespace tarn {

namespace {
constexpr VARTYPE kUnsignedBytes = VT_ARRAY | VT_UI1;  // 0x2011
constexpr VARTYPE kSignedBytes = VT_ARRAY | VT_I1;     // 0x2010
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
    if (!access_.Open(array)) return;
    size_ = DimensionLength(array, 1);
    // The count comes from dimension 1, but another dimension may be empty:
    // never more bytes than the array has cells.
    const ULONGLONG cells = CellsWithData(array);
    if (size_ > cells) size_ = static_cast<ULONG>(cells);
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
    if (!array || ::SafeArrayGetDim(array) != 1) return E_INVALIDARG;
    const ULONG elements = DimensionLength(array, 1);
    // Device bytes go over the elements: anything but plain bytes would be
    // corrupted, and strings or interfaces in it later freed as pointers.
    if (!HoldsPlainBytes(array)) return E_INVALIDARG;
    if (count < 0 || static_cast<ULONG>(count) > elements) return E_INVALIDARG;
    // A descriptor may claim elements with no data behind them.
    if (static_cast<ULONGLONG>(count) > CellsWithData(array)) return E_INVALIDARG;
    return S_OK;
}

}  // namespace tarn
