// Byte arrays as they cross an Automation interface, for script clients: the
// library's byte-array input, reached also through the references scripts
// pass (VT_BYREF | VT_VARIANT, VT_BYREF | VT_ARRAY), with a message for each
// refusal; and a new array handed out as a VARIANT of type 0x2011.
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

    const BYTE* data() const { return input_ ? input_->data() : nullptr; }
    ULONG size() const { return input_ ? input_->size() : 0; }
    const std::wstring& problem() const { return problem_; }

private:
    std::optional<tarn::ByteArrayInput> input_;
    std::wstring problem_;
};

// A new one-dimensional VT_UI1 array with lower bound 0, filled through data().
class NewByteArray {
public:
    HRESULT create(ULONG count);  // E_OUTOFMEMORY when it cannot be allocated
    BYTE* data() const { return access_ ? access_->data() : nullptr; }
    // Unlocks the data and stores the array into an empty out VARIANT (type 0x2011).
    void moveTo(VARIANT* out);

private:
    UniqueSafeArray array_;
    std::optional<SafeArrayDataAccess> access_;
};

}  // namespace tarnkit
