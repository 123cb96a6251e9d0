#pragma once
// The USB device's kernel-mode driver as the library talks to it: the device
// names, the request block and the seven control requests, and the bulk
// transfers of the main endpoint.  Every call is synchronous; success is the
// call's boolean result (the system error code is never read).
#include <windows.h>

#include "TarnDriver.h"
#include "platform/unique_handle.h"
#include "usb/device_interface.h"

namespace tarn::usb {

// The name prefix of a device kind; null for a value outside ETNDevice.
const wchar_t* DevicePrefix(ETNDevice kind) noexcept;

// "\\.\LUMO3", "\\.\Q0215-1": the device object's name.
void FormatDeviceName(const wchar_t* prefix, short number, wchar_t (&name)[32]) noexcept;
// "LumoUsbIF__Mutex_LUMO3": the mutex shared by every user of that device.
void FormatMutexName(const wchar_t* prefix, short number, wchar_t (&name)[48]) noexcept;

// Opens the device object for reading and writing, unshared, synchronous I/O.
UniqueFileHandle OpenDevice(const wchar_t* deviceName) noexcept;

// The 6 bytes that start every vendor request: code, parameter 1, parameter 2,
// each 16-bit little-endian.
using RequestBlock = TarnUsbRequestBlock;
constexpr DWORD kRequestBlockSize = TARN_USB_REQUEST_BLOCK_SIZE;
RequestBlock MakeRequestBlock(BYTE requestId, short param1, short param2) noexcept;

// Vendor request with data to the device: `input` is the request block followed
// by the data.  Returns the driver's answer, which callers may ignore.
bool VendorWrite(HANDLE device, const BYTE* input, DWORD inputSize) noexcept;
// Vendor request with data from the device: true only when exactly `size` bytes came back.
bool VendorRead(HANDLE device, const RequestBlock& block, BYTE* data, DWORD size) noexcept;

// The lock requests take the low byte of the lock type.
bool LockType(HANDLE device, ETNLockType type) noexcept;
bool UnlockType(HANDLE device, ETNLockType type) noexcept;
// Whether the type is held: a query that fails counts as held.
bool IsTypeLocked(HANDLE device, ETNLockType type) noexcept;

bool ResetMainEndpointIn(HANDLE device) noexcept;
bool ResetMainEndpointOut(HANDLE device) noexcept;

// Bulk transfers on the main endpoint: true only when exactly `size` bytes moved.
bool WriteMainEndpoint(HANDLE device, const BYTE* data, DWORD size) noexcept;
bool ReadMainEndpoint(HANDLE device, BYTE* data, DWORD size) noexcept;

}  // namespace tarn::usb
