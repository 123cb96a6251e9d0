#pragma once
// The raw line configuration both serial classes use.
#include <windows.h>

namespace tarn {

// Reads the port's settings, sets 8 data bits, no parity, one stop bit at
// `baudRate`, binary mode, no parity check, no flow control of any kind, DTR and
// RTS held inactive (moved only by escapes), null bytes passed, and writes them
// back.  Every other field keeps what was read.  False only when the settings
// cannot be read; a refused write is not examined.
bool ConfigureRawLine(HANDLE port, DWORD baudRate) noexcept;

}  // namespace tarn
