#include "digitalio/control_port.h"

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
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handle_.get(), &dcb)) return;
    dcb.BaudRate = kControlBaudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    // Binary mode and nothing else of flags 0..14: no parity check, no flow
    // control of any kind, DTR and RTS moved only by our escapes.
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = 0;
    ::SetCommState(handle_.get(), &dcb);
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
