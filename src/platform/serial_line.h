#pragma once
// The raw line configuration both serial classes use, and the byte port's
// queues and time-outs, which give every transfer of n bytes 200 + 4*n ms.
#include <windows.h>

namespace tarn {

constexpr DWORD kQueueBytes = 4096;  // input and output queue, and the most one immediate read returns

// Reads the port's settings, sets 8 data bits, no parity, one stop bit at
// `baudRate`, binary mode, no parity check, no flow control of any kind, DTR and
// RTS held inactive (moved only by escapes), null bytes passed, and writes them
// back.  Every other field (XON/XOFF limits, special characters) keeps what was
// read.  False only when the settings cannot be read; a refused write is not examined.
bool ConfigureRawLine(HANDLE port, DWORD baudRate) noexcept;

// Requests the queue sizes and sets the transfer time-outs; false if any step fails.
bool SetUpQueuesAndTimeouts(HANDLE port) noexcept;

// `kept` with its read fields changed so a read returns at once with what has arrived.
COMMTIMEOUTS ImmediateReadTimeouts(const COMMTIMEOUTS& kept) noexcept;

}  // namespace tarn
