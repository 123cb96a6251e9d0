#include "digitalio/control_port.h"

#include "platform/serial_line.h"

namespace tarn {

namespace {
constexpr DWORD kControlBaudRate = 8192;  // no data flows; only the lines are used
}  // namespace

bool ControlPort::Open(const wchar_t* name) noexcept {
    Lock lock(lock_);
    CloseLocked();
    handle_.reset(::CreateFileW(name ? name : L"", 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
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
