#pragma once
// An owning interface pointer: one reference, released by the destructor.
#include <unknwn.h>
#include <utility>

namespace tarn {

template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(T* p) noexcept : ptr_(p) { if (ptr_) ptr_->AddRef(); }  // adds its own reference
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.ptr_) {}
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;
    }
    ~ComPtr() { reset(); }

    // Takes over a reference the caller already owns.
    static ComPtr Attach(T* p) noexcept {
        ComPtr result;
        result.ptr_ = p;
        return result;
    }

    T* get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

    // For out-parameters: releases what is held and hands out the slot.
    T** put() noexcept {
        reset();
        return &ptr_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    T* detach() noexcept { return std::exchange(ptr_, nullptr); }
    void reset() noexcept {
        if (T* old = std::exchange(ptr_, nullptr)) old->Release();
    }

    template <class U>
    HRESULT As(ComPtr<U>& out) const noexcept {
        return ptr_ ? ptr_->QueryInterface(__uuidof(U), out.put_void()) : E_POINTER;
    }

private:
    T* ptr_ = nullptr;
};

}  // namespace tarn
