#include "usb/kernel_driver.h"

#include "platform/trace.h"

namespace tarn::usb {
namespace {

const char* RequestCall(DWORD code) noexcept {
    switch (code) {
        case TARN_USB_VENDOR_WRITE: return "DeviceIoControl(vendor write)";
        case TARN_USB_VENDOR_READ: return "DeviceIoControl(vendor read)";
        case TARN_USB_LOCK: return "DeviceIoControl(lock)";
        case TARN_USB_UNLOCK: return "DeviceIoControl(unlock)";
        case TARN_USB_QUERY_LOCK: return "DeviceIoControl(query lock)";
        case TARN_USB_RESET_IN: return "DeviceIoControl(reset endpoint in)";
        case TARN_USB_RESET_OUT: return "DeviceIoControl(reset endpoint out)";
    }
    return "DeviceIoControl";
}

bool Control(HANDLE device, DWORD code, const void* input, DWORD inputSize, void* output,
             DWORD outputSize, DWORD* returned) noexcept {
    DWORD ignored = 0;
    const bool done = ::DeviceIoControl(device, code, const_cast<void*>(input), inputSize, output, outputSize,
                                        returned ? returned : &ignored, nullptr) != FALSE;
    if (!done) TRACE_LAST_ERROR(RequestCall(code));
    return done;
}

bool LockRequest(HANDLE device, DWORD code, ETNLockType type) noexcept {
    const BYTE typeByte = static_cast<BYTE>(static_cast<unsigned>(type) & 0xFF);
    return Control(device, code, &typeByte, 1, nullptr, 0, nullptr);
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
    UniqueFileHandle device(::CreateFileW(deviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                          nullptr));
    if (!device) TRACE_LAST_ERROR("CreateFileW");
    return device;
}

RequestBlock MakeRequestBlock(BYTE requestId, short param1, short param2) noexcept {
    return RequestBlock{requestId, param1, param2};
}

bool VendorWrite(HANDLE device, const BYTE* input, DWORD inputSize) noexcept {
    return Control(device, TARN_USB_VENDOR_WRITE, input, inputSize, nullptr, 0, nullptr);
}

bool VendorRead(HANDLE device, const RequestBlock& block, BYTE* data, DWORD size) noexcept {
    DWORD returned = 0;
    return Control(device, TARN_USB_VENDOR_READ, &block, kRequestBlockSize, data, size, &returned) &&
           returned == size;
}

bool LockType(HANDLE device, ETNLockType type) noexcept { return LockRequest(device, TARN_USB_LOCK, type); }

bool UnlockType(HANDLE device, ETNLockType type) noexcept {
    return LockRequest(device, TARN_USB_UNLOCK, type);
}

bool IsTypeLocked(HANDLE device, ETNLockType type) noexcept {
    const BYTE typeByte = static_cast<BYTE>(static_cast<unsigned>(type) & 0xFF);
    BYTE state = 1;
    if (!Control(device, TARN_USB_QUERY_LOCK, &typeByte, 1, &state, 1, nullptr)) return true;
    return state != 0;
}

bool ResetMainEndpointIn(HANDLE device) noexcept {
    return Control(device, TARN_USB_RESET_IN, nullptr, 0, nullptr, 0, nullptr);
}

bool ResetMainEndpointOut(HANDLE device) noexcept {
    return Control(device, TARN_USB_RESET_OUT, nullptr, 0, nullptr, 0, nullptr);
}

bool WriteMainEndpoint(HANDLE device, const BYTE* data, DWORD size) noexcept {
    DWORD written = 0;
    const bool done = ::WriteFile(device, data, size, &written, nullptr) != FALSE;
    if (!done) TRACE_LAST_ERROR("WriteFile");
    return done && written == size;
}

bool ReadMainEndpoint(HANDLE device, BYTE* data, DWORD size) noexcept {
    DWORD read = 0;
    const bool done = ::ReadFile(device, data, size, &read, nullptr) != FALSE;
    if (!done) TRACE_LAST_ERROR("ReadFile");
    return done && read == size;
}

}  // namespace tarn::usb
