#pragma once
// An owning VARIANT, cleared by the destructor.
#include <windows.h>
#include <oleauto.h>

namespace tarn {

class UniqueVariant {
public:
    UniqueVariant() noexcept { ::VariantInit(&value_); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    ~UniqueVariant() { ::VariantClear(&value_); }

    VARIANT* get() noexcept { return &value_; }
    // Hands the value over to `out`, which must be empty (an out-parameter).
    void release(VARIANT* out) noexcept {
        *out = value_;
        ::VariantInit(&value_);
    }

private:
    VARIANT value_;
};

}  // namespace tarn
