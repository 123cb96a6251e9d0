#pragma once
// Owning wrappers for Win32 handles: every handle is closed exactly once, on
// every path, by the destructor.
#include <windows.h>
#include <utility>

namespace tarn {

// Invalid is the "no handle" value of the API that made the handle: files and
// devices use INVALID_HANDLE_VALUE, events, threads and mutexes use null.
template <HANDLE (*Invalid)()>
class BasicHandle {
public:
    BasicHandle() noexcept = default;
    explicit BasicHandle(HANDLE h) noexcept : handle_(h) {}
    BasicHandle(BasicHandle&& other) noexcept : handle_(other.release()) {}
    BasicHandle& operator=(BasicHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    BasicHandle(const BasicHandle&) = delete;
    BasicHandle& operator=(const BasicHandle&) = delete;
    ~BasicHandle() { reset(); }

    HANDLE get() const noexcept { return handle_; }
    bool valid() const noexcept { return handle_ != Invalid() && handle_ != nullptr; }
    explicit operator bool() const noexcept { return valid(); }

    HANDLE release() noexcept { return std::exchange(handle_, Invalid()); }
    void reset(HANDLE h = Invalid()) noexcept {
        HANDLE old = std::exchange(handle_, h);
        if (old != Invalid() && old != nullptr) ::CloseHandle(old);
    }

private:
    HANDLE handle_ = Invalid();
};

inline HANDLE InvalidFileHandle() noexcept { return INVALID_HANDLE_VALUE; }
inline HANDLE NullHandle() noexcept { return nullptr; }

using UniqueFileHandle = BasicHandle<InvalidFileHandle>;  // CreateFile results
using UniqueHandle = BasicHandle<NullHandle>;             // events, threads, mutexes

}  // namespace tarn
