#include "automation/array_shape.h"

namespace tarn {

// The descriptor holds the bounds last dimension first.
ULONG DimensionLength(const SAFEARRAY* array, UINT dimension) noexcept {
    return array->rgsabound[array->cDims - dimension].cElements;
}

LONG DimensionLowerBound(const SAFEARRAY* array, UINT dimension) noexcept {
    return array->rgsabound[array->cDims - dimension].lLbound;
}

ULONGLONG CellsWithData(SAFEARRAY* array) noexcept {
    const UINT dimensions = array ? ::SafeArrayGetDim(array) : 0;
    if (dimensions == 0) return 0;
    ULONGLONG cells = 1;
    for (UINT d = 1; d <= dimensions; ++d) {
        const ULONG length = DimensionLength(array, d);
        if (length == 0) return 0;
        // Past this, no dimension could be addressed in any process.
        if (cells > MAXDWORD) return 0;
        cells *= length;
    }
    const ULONG elementSize = ::SafeArrayGetElemsize(array);
    if (elementSize == 0 || !array->pvData) return 0;
    return cells;
}

bool HoldsPlainBytes(SAFEARRAY* array) noexcept {
    constexpr USHORT kOwningFeatures =
        FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT | FADF_RECORD | FADF_HAVEIID;
    return array && ::SafeArrayGetElemsize(array) == 1 && (array->fFeatures & kOwningFeatures) == 0;
}

bool IsFixedInPlace(SAFEARRAY* array) noexcept {
    constexpr USHORT kFixed = FADF_FIXEDSIZE | FADF_STATIC | FADF_AUTO | FADF_EMBEDDED;
    return array && (array->fFeatures & kFixed) != 0;
}

}  // namespace tarn
