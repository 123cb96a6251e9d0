#include "serial/port_settings.h"

#include "platform/serial_line.h"

namespace tarn {

namespace {
constexpr DWORD kTimeoutPerByteMs = 4;
constexpr DWORD kTimeoutConstantMs = 200;
}  // namespace

bool ApplyLineSettings(HANDLE port, long baudRate) noexcept {
    return ConfigureRawLine(port, static_cast<DWORD>(baudRate));
}

bool SetUpQueuesAndTimeouts(HANDLE port) noexcept {
    if (!::SetupComm(port, kQueueBytes, kQueueBytes)) return false;
    COMMTIMEOUTS timeouts{};
    if (!::GetCommTimeouts(port, &timeouts)) return false;
    timeouts.ReadIntervalTimeout = 0;  // no limit between bytes
    timeouts.ReadTotalTimeoutMultiplier = kTimeoutPerByteMs;
    timeouts.ReadTotalTimeoutConstant = kTimeoutConstantMs;
    timeouts.WriteTotalTimeoutMultiplier = kTimeoutPerByteMs;
    timeouts.WriteTotalTimeoutConstant = kTimeoutConstantMs;
    return ::SetCommTimeouts(port, &timeouts) != FALSE;
}

COMMTIMEOUTS ImmediateReadTimeouts(const COMMTIMEOUTS& kept) noexcept {
    COMMTIMEOUTS immediate = kept;
    immediate.ReadIntervalTimeout = MAXDWORD;
    immediate.ReadTotalTimeoutMultiplier = 0;
    immediate.ReadTotalTimeoutConstant = 0;
    return immediate;
}

}  // namespace tarn
