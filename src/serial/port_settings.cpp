#include "serial/port_settings.h"

namespace tarn {

namespace {
constexpr DWORD kTimeoutPerByteMs = 4;
constexpr DWORD kTimeoutConstantMs = 200;
}  // namespace

bool ApplyLineSettings(HANDLE port, long baudRate) noexcept {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb)) return false;
    dcb.BaudRate = static_cast<DWORD>(baudRate);  // passed on unchecked: the port decides
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
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
    ::SetCommState(port, &dcb);
    return true;
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
