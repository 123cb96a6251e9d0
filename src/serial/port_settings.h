#pragma once
// The fixed configuration of a byte port: line settings, queue sizes and the
// read/write time-outs that give every transfer of n bytes 200 + 4*n ms.
#include <windows.h>

namespace tarn {

constexpr DWORD kQueueBytes = 4096;  // input and output queue, and the most one immediate read returns

// Reads the port's settings, sets 8N1 at `baudRate` with no flow control, DTR
// and RTS held inactive, binary, null bytes passed, and writes them back.  The
// other fields (XON/XOFF limits, special characters) keep what was read.
// False only when the settings cannot be read; a refused write is not examined.
bool ApplyLineSettings(HANDLE port, long baudRate) noexcept;

// Requests the queue sizes and sets the transfer time-outs; false if any step fails.
bool SetUpQueuesAndTimeouts(HANDLE port) noexcept;

// `kept` with its read fields changed so a read returns at once with what has arrived.
COMMTIMEOUTS ImmediateReadTimeouts(const COMMTIMEOUTS& kept) noexcept;

}  // namespace tarn
