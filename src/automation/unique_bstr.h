#pragma once
// An owning BSTR.
#include <windows.h>
#include <oleauto.h>
#include <utility>

namespace tarn {

class UniqueBstr {
public:
    UniqueBstr() noexcept = default;
    explicit UniqueBstr(BSTR s) noexcept : str_(s) {}
    UniqueBstr(UniqueBstr&& other) noexcept : str_(other.release()) {}
    UniqueBstr& operator=(UniqueBstr&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    ~UniqueBstr() { reset(); }

    // A copy of `text` with exactly `length` characters; null when out of memory.
    static UniqueBstr Copy(const wchar_t* text, UINT length) noexcept {
        return UniqueBstr(::SysAllocStringLen(text, length));
    }
    static UniqueBstr Copy(BSTR text) noexcept { return Copy(text, ::SysStringLen(text)); }

    BSTR get() const noexcept { return str_; }
    UINT length() const noexcept { return ::SysStringLen(str_); }
    explicit operator bool() const noexcept { return str_ != nullptr; }
    BSTR release() noexcept { return std::exchange(str_, nullptr); }
    // For out-parameters: frees what is held and hands out the slot.
    BSTR* put() noexcept {
        reset();
        return &str_;
    }
    void reset(BSTR s = nullptr) noexcept {
        if (BSTR old = std::exchange(str_, s)) ::SysFreeString(old);
    }

private:
    BSTR str_ = nullptr;
};

}  // namespace tarn
