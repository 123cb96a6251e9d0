#include "digitalio/control_port.h"

#include <cwchar>
#include <iterator>

#include "platform/serial_line.h"
#include "platform/trace.h"

namespace tarn {

namespace {

constexpr DWORD kControlBaudRate = 8192;  // no data flows; only the lines are used

// Control only (no data access), exclusive, overlapped for the monitor's waits.
HANDLE OpenControlOnly(const wchar_t* name) noexcept {
    return ::CreateFileW(name, 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

// Ports above COM9 exist only in the device namespace, yet users write the
// name they see.  For a name COM<digits> (any case) this writes "\\.\" and the
// name into `path`; false for every other name.
bool DeviceNamespacePath(const wchar_t* name, wchar_t (&path)[24]) noexcept {
    constexpr wchar_t kPrefix[] = L"\\\\.\\";
    const size_t length = ::wcslen(name);
    if (length <= 3 || length >= std::size(path) - (std::size(kPrefix) - 1) || ::_wcsnicmp(name, L"COM", 3) != 0)
        return false;
    for (size_t i = 3; i < length; ++i)
        if (name[i] < L'0' || name[i] > L'9') return false;
    ::wcscpy_s(path, kPrefix);
    ::wcscat_s(path, name);
    return true;
}

}  // namespace

bool ControlPort::Open(const wchar_t* name) noexcept {
    Lock lock(lock_);
    CloseLocked();
    if (!name) name = L"";
    handle_.reset(OpenControlOnly(name));
    // Only a name that fails as written is tried there, so whatever opens today opens unchanged.
    wchar_t devicePath[24];
    if (!handle_ && DeviceNamespacePath(name, devicePath)) handle_.reset(OpenControlOnly(devicePath));
    if (!handle_) TRACE_LAST_ERROR("CreateFileW");
    ++session_;
    return handle_.valid();
}

void ControlPort::Close() noexcept {
    Lock lock(lock_);
    CloseLocked();
}

void ControlPort::CloseLocked() noexcept {
    if (!handle_) return;
    ::SetCommMask(handle_.get(), 0);
    handle_.reset();
    ++session_;
}

bool ControlPort::IsOpen() noexcept {
    Lock lock(lock_);
    return handle_.valid();
}

std::optional<ControlPort::Session> ControlPort::CurrentSession() noexcept {
    Lock lock(lock_);
    if (!handle_) return std::nullopt;
    return session_;
}

void ControlPort::Configure() noexcept {
    Lock lock(lock_);
    if (!handle_) return;
    ConfigureRawLine(handle_.get(), kControlBaudRate);
}

void ControlPort::Escape(DWORD function) noexcept {
    Lock lock(lock_);
    if (handle_) ::EscapeCommFunction(handle_.get(), function);
}

DWORD ControlPort::ModemStatus() noexcept {
    Lock lock(lock_);
    DWORD status = 0;
    if (handle_ && !::GetCommModemStatus(handle_.get(), &status)) status = 0;
    return status;
}

void ControlPort::ClearEventMask() noexcept {
    Lock lock(lock_);
    if (handle_) ::SetCommMask(handle_.get(), 0);
}

}  // namespace tarn
