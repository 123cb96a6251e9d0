// Byte arrays as they cross an Automation interface: read from a VARIANT that a
// script or program passes in, and handed out as a new VARIANT of type 0x2011.
#pragma once

#include <optional>
#include <string>

#include "com_handles.h"

namespace tarnkit {

// The bytes of an array argument, locked while this object lives.  Accepts
// VT_ARRAY|VT_UI1 and VT_ARRAY|VT_I1, by value or by reference, also behind
// VT_BYREF|VT_VARIANT (how VBScript passes a variable).
class ByteArrayArg {
public:
    // On failure returns DISP_E_TYPEMISMATCH or E_INVALIDARG and fills problem().
    HRESULT open(const VARIANT& arg);

    const BYTE* data() const { return data_; }
    ULONG size() const { return size_; }
    const std::wstring& problem() const { return problem_; }

private:
    std::optional<SafeArrayData> lock_;
    const BYTE* data_ = nullptr;
    ULONG size_ = 0;
    std::wstring problem_;
};

// A new one-dimensional VT_UI1 array with lower bound 0, filled through data().
class NewByteArray {
public:
    HRESULT create(ULONG count);  // E_OUTOFMEMORY when it cannot be allocated
    BYTE* data() const { return lock_ ? lock_->bytes() : nullptr; }
    // Unlocks the data and stores the array into an empty out VARIANT (type 0x2011).
    void moveTo(VARIANT* out);

private:
    UniqueSafeArray array_;
    std::optional<SafeArrayData> lock_;
};

}  // namespace tarnkit
