#include "usb_test_support.h"

#include <algorithm>

namespace usbtest {

std::wstring DevicePath(TarnUsbDeviceId id) {
    return std::wstring(L"\\\\.\\") + (id.kind == TARN_USB_KIND_LUMO ? L"LUMO" : L"Q0215") +
           std::to_wstring(id.number);
}

Handle OpenDevice(TarnUsbDeviceId id) {
    return Handle(CreateFileW(DevicePath(id).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr));
}

Result Ioctl(HANDLE h, uint32_t code, const void *in, DWORD in_length, void *out, DWORD out_length) {
    DWORD bytes = 0;
    SetLastError(0);
    BOOL ok = DeviceIoControl(h, code, const_cast<void *>(in), in_length, out, out_length, &bytes, nullptr);
    return {ok != FALSE, ok ? 0 : GetLastError(), bytes};
}

Bytes VendorBlock(uint8_t request, int16_t param1, int16_t param2, const Bytes &data) {
    Bytes block(TARN_USB_REQUEST_BLOCK_SIZE + data.size());
    block[0] = request;  // the request code, zero-extended to 16 bits
    block[2] = static_cast<uint8_t>(param1 & 0xFF);
    block[3] = static_cast<uint8_t>((param1 >> 8) & 0xFF);
    block[4] = static_cast<uint8_t>(param2 & 0xFF);
    block[5] = static_cast<uint8_t>((param2 >> 8) & 0xFF);
    std::copy(data.begin(), data.end(), block.begin() + TARN_USB_REQUEST_BLOCK_SIZE);
    return block;
}

Result VendorWrite(HANDLE h, uint8_t request, const Bytes &data, int16_t p1, int16_t p2) {
    auto block = VendorBlock(request, p1, p2, data);
    return Ioctl(h, TARN_USB_VENDOR_WRITE, block.data(), static_cast<DWORD>(block.size()), nullptr, 0);
}

Result VendorRead(HANDLE h, uint8_t request, Bytes &data, int16_t p1, int16_t p2) {
    auto block = VendorBlock(request, p1, p2);
    return Ioctl(h, TARN_USB_VENDOR_READ, block.data(), static_cast<DWORD>(block.size()),
                 data.empty() ? nullptr : data.data(), static_cast<DWORD>(data.size()));
}

Result LockRequest(HANDLE h, uint32_t code, uint8_t type) {
    return Ioctl(h, code, &type, 1, nullptr, 0);
}

int QueryLock(HANDLE h, uint8_t type) {
    uint8_t answer = 0xEE;
    Result r = Ioctl(h, TARN_USB_QUERY_LOCK, &type, 1, &answer, 1);
    return r.ok && r.bytes == 1 ? answer : -1;
}

Result WriteBulk(HANDLE h, const Bytes &data) {
    DWORD written = 0;
    SetLastError(0);
    BOOL ok = WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    return {ok != FALSE, ok ? 0 : GetLastError(), written};
}

BlockingCall::BlockingCall(HANDLE device, std::function<Result()> call) : device_(device), call_(std::move(call)) {
    thread_.reset(CreateThread(nullptr, 0, Run, this, 0, nullptr));
}

BlockingCall::~BlockingCall() {
    // A failed test may leave the call waiting: end it before its buffers go.
    if (!Finished(0)) {
        CancelIoEx(device_, nullptr);
        Finished(5000);
    }
}

bool BlockingCall::Finished(DWORD ms) { return WaitForSingleObject(thread_.get(), ms) == WAIT_OBJECT_0; }

DWORD WINAPI BlockingCall::Run(void *self) {
    auto *call = static_cast<BlockingCall *>(self);
    call->result_ = call->call_();
    return 0;
}

PendingRead::PendingRead(HANDLE device, DWORD length)
    : data_(length, 0xCC), call_(device, [this, device] {
          DWORD got = 0;
          SetLastError(0);
          BOOL ok = ReadFile(device, data_.data(), static_cast<DWORD>(data_.size()), &got, nullptr);
          return Result{ok != FALSE, ok ? 0 : GetLastError(), got};
      }) {}

Control::Control()
    : handle_(CreateFileW(TARN_USB_CONTROL_PATH_W, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr)) {}

Result Control::Raw(uint32_t code, const void *in, DWORD in_length, void *out, DWORD out_length) {
    return Ioctl(handle_.get(), code, in, in_length, out, out_length);
}

TarnUsbDeviceStatus Control::Status(TarnUsbDeviceId id) {
    TarnUsbDeviceStatus status{};
    Raw(TARN_USB_CONTROL_GET_STATUS, &id, sizeof id, &status, sizeof status);
    return status;
}

std::vector<TarnUsbLogEntry> Control::Log(uint32_t after_sequence) {
    Bytes buffer(sizeof(TarnUsbLogHeader) + TARN_USB_LOG_ENTRIES * sizeof(TarnUsbLogEntry));
    TarnUsbLogQuery query{after_sequence};
    Result r = Raw(TARN_USB_CONTROL_GET_LOG, &query, sizeof query, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (!r.ok) return {};
    auto *header = reinterpret_cast<const TarnUsbLogHeader *>(buffer.data());
    auto *first = reinterpret_cast<const TarnUsbLogEntry *>(header + 1);
    return std::vector<TarnUsbLogEntry>(first, first + header->count);
}

uint32_t Control::NextSequence() {
    TarnUsbLogHeader header{};
    TarnUsbLogQuery query{0xFFFFFFFFu};
    Raw(TARN_USB_CONTROL_GET_LOG, &query, sizeof query, &header, sizeof header);
    return header.next_sequence;
}

void Control::ClearLog() { Raw(TARN_USB_CONTROL_CLEAR_LOG, nullptr, 0, nullptr, 0); }

void Control::Restart(TarnUsbDeviceId id) {
    Plug(id, false);
    Plug(id, true);
    Reset(id);
}

Result Control::Reset(TarnUsbDeviceId id) { return Raw(TARN_USB_CONTROL_RESET, &id, sizeof id, nullptr, 0); }

Result Control::Fail(TarnUsbDeviceId id, uint32_t code, uint32_t count, int32_t status) {
    TarnUsbFailure failure{id, code, count, status};
    return Raw(TARN_USB_CONTROL_FAIL, &failure, sizeof failure, nullptr, 0);
}

Result Control::Delay(TarnUsbDeviceId id, uint32_t milliseconds, uint32_t count) {
    TarnUsbDelay delay{id, milliseconds, count};
    return Raw(TARN_USB_CONTROL_DELAY, &delay, sizeof delay, nullptr, 0);
}

Result Control::ShortRead(TarnUsbDeviceId id, uint32_t bytes) {
    TarnUsbShortRead shortRead{id, bytes};
    return Raw(TARN_USB_CONTROL_SHORT_READ, &shortRead, sizeof shortRead, nullptr, 0);
}

Result Control::Plug(TarnUsbDeviceId id, bool plugged) {
    TarnUsbPlug plug{id, plugged ? 1u : 0u};
    return Raw(TARN_USB_CONTROL_PLUG, &plug, sizeof plug, nullptr, 0);
}

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

}  // namespace usbtest
