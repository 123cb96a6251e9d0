#pragma once
// ControlPort: the serial port whose control lines the driver uses, shared by
// the client threads and the input monitor.
//
// Every use of the handle happens under the port's own lock, and Close takes
// that lock too, so no platform call ever runs on a handle that has been
// closed.  Each open starts a new session (a number that never repeats); the
// monitor names the session it armed, and its calls do nothing once that
// session has ended, even if a later Open got the same handle value back.
#include <windows.h>

#include <optional>

#include "platform/critical_section.h"
#include "platform/unique_handle.h"

namespace tarn {

class ControlPort {
public:
    using Session = unsigned long;

    // Opens `name` as passed, closing any port held before; a name COM<digits>
    // that does not open so is opened in the device namespace ("\\.\COM21").
    // False when the port cannot be opened; the object then holds no port.
    bool Open(const wchar_t* name) noexcept;
    // Ends a pending line-event wait (event mask 0), then closes the handle.
    void Close() noexcept;
    bool IsOpen() noexcept;
    std::optional<Session> CurrentSession() noexcept;

    // 8192 baud, 8 data bits, no parity, one stop bit, no flow control, DTR and
    // RTS under our control only.
    void Configure() noexcept;
    void Escape(DWORD function) noexcept;  // result ignored, as for every line call
    DWORD ModemStatus() noexcept;          // 0 when the read fails

    // Runs `use(handle)` under the port lock if `session` is still open.
    template <class Use>
    bool WithSession(Session session, Use&& use) noexcept {
        Lock lock(lock_);
        if (!handle_ || session != session_) return false;
        use(handle_.get());
        return true;
    }
    // Sets the event mask to 0, which ends a pending WaitCommEvent with no events.
    void ClearEventMask() noexcept;

private:
    void CloseLocked() noexcept;

    CriticalSection lock_;
    UniqueFileHandle handle_;
    Session session_ = 0;  // counts opens and closes
};

}  // namespace tarn
