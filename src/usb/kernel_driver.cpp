#include "usb/kernel_driver.h"


namespace tarn::usb {
namespace {

// METHOD_BUFFERED, FILE_ANY_ACCESS codes of device type FILE_DEVICE_UNKNOWN (0x22).
constexpr DWORD ControlCode(DWORD function) noexcept { return (0x22u << 16) | (function << 2); }

constexpr DWORD kVendorWrite = ControlCode(0x800);  // 0x222000
constexpr DWORD kVendorRead = ControlCode(0x801);   // 0x222004
constexpr DWORD kLock = ControlCode(0x802);         // 0x222008
constexpr DWORD kUnlock = ControlCode(0x803);       // 0x22200C
constexpr DWORD kQueryLock = ControlCode(0x804);    // 0x222010
constexpr DWORD kResetIn = ControlCode(0x805);      // 0x222014
constexpr DWORD kResetOut = ControlCode(0x806);     // 0x222018

bool Control(HANDLE device, DWORD code, const void* input, DWORD inputSize, void* output,
             DWORD outputSize, DWORD* returned) noexcept {
    DWORD ignored = 0;
    return ::DeviceIoControl(device, code, const_cast<void*>(input), inputSize, output, outputSize,
                             returned ? returned : &ignored, nullptr) != FALSE;
}

bool LockRequest(HANDLE device, DWORD code, ETNLockType type) noexcept {
    const BYTE typeByte = static_cast<BYTE>(static_cast<unsigned>(type) & 0xFF);
    return Control(device, code, &typeByte, 1, nullptr, 0, nullptr);
}

void PutLittleEndian16(BYTE* at, unsigned value) noexcept {
    at[0] = static_cast<BYTE>(value & 0xFF);
    at[1] = static_cast<BYTE>((value >> 8) & 0xFF);
}

}  // namespace

const wchar_t* DevicePrefix(ETNDevice kind) noexcept {
    switch (kind) {
        case etndevLumo: return L"LUMO";
        case etndevPira: return L"Q0215";
    }
    return nullptr;
}

void FormatDeviceName(const wchar_t* prefix, short number, wchar_t (&name)[32]) noexcept {
    ::wsprintfW(name, L"\\\\.\\%s%d", prefix, static_cast<int>(number));
}

void FormatMutexName(const wchar_t* prefix, short number, wchar_t (&name)[48]) noexcept {
    ::wsprintfW(name, L"%s_%s%d", L"LumoUsbIF__Mutex", prefix, static_cast<int>(number));
}

UniqueFileHandle OpenDevice(const wchar_t* deviceName) noexcept {
    return UniqueFileHandle(::CreateFileW(deviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
}

RequestBlock MakeRequestBlock(BYTE requestId, short param1, short param2) noexcept {
    RequestBlock block{};
    PutLittleEndian16(block.bytes + 0, requestId);
    PutLittleEndian16(block.bytes + 2, static_cast<unsigned short>(param1));
    PutLittleEndian16(block.bytes + 4, static_cast<unsigned short>(param2));
    return block;
}

bool VendorWrite(HANDLE device, const BYTE* input, DWORD inputSize) noexcept {
    return Control(device, kVendorWrite, input, inputSize, nullptr, 0, nullptr);
}

bool VendorRead(HANDLE device, const RequestBlock& block, BYTE* data, DWORD size) noexcept {
    DWORD returned = 0;
    return Control(device, kVendorRead, block.bytes, kRequestBlockSize, data, size, &returned) &&
           returned == size;
}

bool LockType(HANDLE device, ETNLockType type) noexcept { return LockRequest(device, kLock, type); }

bool UnlockType(HANDLE device, ETNLockType type) noexcept {
    return LockRequest(device, kUnlock, type);
}

bool IsTypeLocked(HANDLE device, ETNLockType type) noexcept {
    const BYTE typeByte = static_cast<BYTE>(static_cast<unsigned>(type) & 0xFF);
    BYTE state = 1;
    if (!Control(device, kQueryLock, &typeByte, 1, &state, 1, nullptr)) return true;
    return state != 0;
}

bool ResetMainEndpointIn(HANDLE device) noexcept {
    return Control(device, kResetIn, nullptr, 0, nullptr, 0, nullptr);
}

bool ResetMainEndpointOut(HANDLE device) noexcept {
    return Control(device, kResetOut, nullptr, 0, nullptr, 0, nullptr);
}

bool WriteMainEndpoint(HANDLE device, const BYTE* data, DWORD size) noexcept {
    DWORD written = 0;
    return ::WriteFile(device, data, size, &written, nullptr) != FALSE && written == size;
}

bool ReadMainEndpoint(HANDLE device, BYTE* data, DWORD size) noexcept {
    DWORD read = 0;
    return ::ReadFile(device, data, size, &read, nullptr) != FALSE && read == size;
}

}  // namespace tarn::usb
