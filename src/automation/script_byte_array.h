#pragma once
// Byte arrays as script clients pass them: the byte-array input (byte_array.h)
// reached also through the references scripts pass (VT_BYREF | VT_VARIANT,
// VT_BYREF | VT_ARRAY), with a message for each refusal; and a new array
// filled in place, then handed out as a VARIANT of type 0x2011.
#include <windows.h>
#include <oleauto.h>

#include <optional>
#include <string>

#include "automation/byte_array.h"

namespace tarn {

// The bytes of an array argument, locked while this object lives.  Accepts
// VT_ARRAY|VT_UI1 and VT_ARRAY|VT_I1 of one dimension, by value or by
// reference, also behind VT_BYREF|VT_VARIANT (how VBScript passes a variable).
class ScriptByteArrayInput {
public:
    // On failure returns DISP_E_TYPEMISMATCH or E_INVALIDARG and fills Problem().
    HRESULT Open(const VARIANT& argument);

    const BYTE* data() const noexcept { return input_ ? input_->data() : nullptr; }
    ULONG size() const noexcept { return input_ ? input_->size() : 0; }
    const std::wstring& Problem() const noexcept { return problem_; }

private:
    std::optional<ByteArrayInput> input_;
    std::wstring problem_;
};

// A new one-dimensional VT_UI1 array with lower bound 0, filled through data().
class NewByteArray {
public:
    HRESULT Create(ULONG count) noexcept;  // E_OUTOFMEMORY when it cannot be allocated
    BYTE* data() const noexcept { return access_ ? access_->data() : nullptr; }
    // Unlocks the data and stores the array into an empty out VARIANT (type 0x2011).
    void HandOut(VARIANT* out) noexcept;

private:
    UniqueSafeArray array_;
    std::optional<SafeArrayDataAccess> access_;
};

}  // namespace tarn
