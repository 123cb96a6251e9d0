#pragma once
// What a caller's SAFEARRAY holds, read without trusting it: element counts
// that survive bounds at the limits of a LONG, the cells that really have
// data behind them, and whether the library may write into or replace it.
#include <windows.h>
#include <oleauto.h>

namespace tarn {

// Element count and lower bound of one dimension, counted from 1 as the
// platform counts them; the caller has checked that the array has it.  Read
// from the descriptor, so exact for every lower bound (an upper bound would
// wrap with the count).
ULONG DimensionLength(const SAFEARRAY* array, UINT dimension) noexcept;
LONG DimensionLowerBound(const SAFEARRAY* array, UINT dimension) noexcept;

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
