#pragma once
// What a caller's SAFEARRAY holds, read without trusting it: element counts
// that survive bounds at the limits of a LONG, the cells that really have
// data behind them, and whether the library may write into or replace it.
#include <windows.h>
#include <oleauto.h>

namespace tarn {

// Element count of one dimension (counted from 1); false when it can't be read.
// Exact for every lower bound: the upper bound wraps with the count, so the
// difference is taken modulo 2^32 rather than as a (overflowing) signed sum.
bool DimensionLength(SAFEARRAY* array, UINT dimension, ULONG& count) noexcept;

// The number of cells of all dimensions together: 0 when any dimension is
// empty or no data lies behind the array.  Never more than its data bytes.
ULONGLONG CellsWithData(SAFEARRAY* array) noexcept;

// Whether the library may write raw bytes over the array's data: one-byte
// elements and nothing that owns memory (strings, interfaces, VARIANTs, records).
bool HoldsPlainBytes(SAFEARRAY* array) noexcept;

// Whether the array's memory belongs to someone who did not allow it to be
// destroyed or re-created: fixed-size, static, on the stack or embedded.
bool IsFixedInPlace(SAFEARRAY* array) noexcept;

}  // namespace tarn
