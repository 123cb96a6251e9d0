#pragma once
// Byte arrays across the interface: one-dimensional SAFEARRAYs of bytes.
//  - in, through a VARIANT: type 0x2011 (unsigned) or 0x2010 (signed), never by
//    reference, any lower bound;
//  - out, through a VARIANT: a new array of unsigned bytes, lower bound 0, type 0x2011;
//  - in place: the caller's array, written into but never resized or replaced.
#include <windows.h>
#include <oleauto.h>
#include <utility>

namespace tarn {

// Owns a SAFEARRAY until it is handed out.
class UniqueSafeArray {
public:
    UniqueSafeArray() noexcept = default;
    explicit UniqueSafeArray(SAFEARRAY* a) noexcept : array_(a) {}
    UniqueSafeArray(UniqueSafeArray&& other) noexcept : array_(other.release()) {}
    UniqueSafeArray& operator=(UniqueSafeArray&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueSafeArray(const UniqueSafeArray&) = delete;
    UniqueSafeArray& operator=(const UniqueSafeArray&) = delete;
    ~UniqueSafeArray() { reset(); }

    SAFEARRAY* get() const noexcept { return array_; }
    explicit operator bool() const noexcept { return array_ != nullptr; }
    SAFEARRAY* release() noexcept { return std::exchange(array_, nullptr); }
    void reset(SAFEARRAY* a = nullptr) noexcept {
        if (SAFEARRAY* old = std::exchange(array_, a)) ::SafeArrayDestroy(old);
    }

private:
    SAFEARRAY* array_ = nullptr;
};

// Locks an array's data for direct access while it lives.
class SafeArrayDataAccess {
public:
    SafeArrayDataAccess() noexcept = default;
    explicit SafeArrayDataAccess(SAFEARRAY* array) noexcept { Open(array); }
    ~SafeArrayDataAccess();
    bool Open(SAFEARRAY* array) noexcept;
    SafeArrayDataAccess(const SafeArrayDataAccess&) = delete;
    SafeArrayDataAccess& operator=(const SafeArrayDataAccess&) = delete;

    bool ok() const noexcept { return array_ != nullptr; }
    BYTE* data() const noexcept { return static_cast<BYTE*>(data_); }

private:
    SAFEARRAY* array_ = nullptr;  // set while the data is locked (an empty array may have no data)
    void* data_ = nullptr;
};

enum class Dimensions { AnyCount, ExactlyOne };

// The bytes of a ByteArray passed in a VARIANT, with the data locked while the
// view lives.  ok() is false when the VARIANT holds no acceptable array.
class ByteArrayInput {
public:
    ByteArrayInput(const VARIANT& value, Dimensions required) noexcept;

    bool ok() const noexcept { return ok_; }
    const BYTE* data() const noexcept { return access_.data(); }
    ULONG size() const noexcept { return size_; }

private:
    SafeArrayDataAccess access_;
    ULONG size_ = 0;
    bool ok_ = false;
};

// A new array of `count` unsigned bytes, lower bound 0; empty when count is
// negative or memory runs out.
UniqueSafeArray CreateByteArray(LONG count) noexcept;

// Stores the array in `out` as type 0x2011.  What `out` held is neither read
// nor freed: callers pass an empty VARIANT.
void HandOutByteArray(UniqueSafeArray array, VARIANT* out) noexcept;

// The in-place rule: exactly one dimension of one-byte elements that own
// nothing, and 0 <= count <= element count.
HRESULT CheckInPlaceByteArray(SAFEARRAY* array, LONG count) noexcept;

}  // namespace tarn
