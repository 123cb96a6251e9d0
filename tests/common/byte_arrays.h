#pragma once
// Byte arrays of any element type and lower bound, as clients pass them.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "automation/byte_array.h"

namespace tarn::test {

inline UniqueSafeArray NewByteArray(const std::vector<BYTE>& bytes, VARTYPE elementType = VT_UI1,
                                    LONG lowerBound = 0) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(bytes.size()), lowerBound};
    UniqueSafeArray array(::SafeArrayCreate(elementType, 1, &bound));
    EXPECT_TRUE(array);
    void* data = nullptr;
    if (array && !bytes.empty() && SUCCEEDED(::SafeArrayAccessData(array.get(), &data))) {
        memcpy(data, bytes.data(), bytes.size());
        ::SafeArrayUnaccessData(array.get());
    }
    return array;
}

// The array held in `out`, which lets go of what it held before.
inline void MakeArray(VARIANT& out, const std::vector<BYTE>& bytes, VARTYPE elementType = VT_UI1,
                      LONG lowerBound = 0) {
    ::VariantClear(&out);
    out.vt = VT_ARRAY | elementType;
    out.parray = NewByteArray(bytes, elementType, lowerBound).release();
}

}  // namespace tarn::test
