#include "platform/serial_line.h"

namespace tarn {
namespace {
constexpr DWORD kTimeoutPerByteMs = 4;
constexpr DWORD kTimeoutConstantMs = 200;
}  // namespace

bool ConfigureRawLine(HANDLE port, DWORD baudRate) noexcept {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb)) return false;
    dcb.BaudRate = baudRate;  // passed on unchecked: the port decides
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    // No parity check, no flow control of any kind, no error or null-byte
    // replacement, and no abort on an error.
    dcb.fParity = dcb.fErrorChar = dcb.fNull = dcb.fAbortOnError = 0;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = dcb.fOutX = dcb.fInX = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    ::SetCommState(port, &dcb);
    return true;
}

bool SetUpQueuesAndTimeouts(HANDLE port) noexcept {
    if (!::SetupComm(port, kQueueBytes, kQueueBytes)) return false;
    COMMTIMEOUTS timeouts{};
    if (!::GetCommTimeouts(port, &timeouts)) return false;
    timeouts.ReadIntervalTimeout = 0;  // no limit between bytes
    timeouts.ReadTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier = kTimeoutPerByteMs;
    timeouts.ReadTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant = kTimeoutConstantMs;
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
