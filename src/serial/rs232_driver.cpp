#include "serial/rs232_driver.h"

#include "automation/byte_array.h"
#include "automation/error_report.h"
#include "automation/out_values.h"
#include "platform/serial_line.h"
#include "platform/trace.h"

namespace tarn {

namespace {
constexpr int kNameChars = 64;
}  // namespace

STDMETHODIMP Rs232Driver::Open(long nPortNumber, VARIANT_BOOL* pbSuccess) {
    Lock lock(lock_);
    if (!pbSuccess) return E_POINTER;
    // A held port is released first, so reopening never leaves a handle behind.
    port_.reset();

    wchar_t device[kNameChars];
    ::wsprintfW(device, L"\\\\.\\COM%d", nPortNumber);
    port_.reset(::CreateFileW(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr));
    if (!port_) {
        TRACE_LAST_ERROR("CreateFileW");
        SetSuccessFlag(pbSuccess, false);
        return E_FAIL;
    }
    ConfigureRawLine(port_.get(), static_cast<DWORD>(baudRate_));
    if (!SetUpQueuesAndTimeouts(port_.get())) {
        TRACE_LAST_ERROR("SetupComm/SetCommTimeouts");
        port_.reset();  // the port number keeps its previous value
        SetSuccessFlag(pbSuccess, false);
        return E_FAIL;
    }
    portNumber_ = nPortNumber;
    SetSuccessFlag(pbSuccess, true);
    return S_OK;
}

STDMETHODIMP Rs232Driver::Close() {
    Lock lock(lock_);
    port_.reset();
    portNumber_ = 0;
    return S_OK;
}

STDMETHODIMP Rs232Driver::get_PortName(BSTR* pbstrCOMPort) {
    Lock lock(lock_);
    if (!pbstrCOMPort) return E_POINTER;
    wchar_t name[kNameChars];
    const int length = ::wsprintfW(name, L"COM%d", portNumber_);
    return HandOutString(name, static_cast<UINT>(length), pbstrCOMPort);
}

STDMETHODIMP Rs232Driver::get_PortNumber(long* pnCOMPort) {
    Lock lock(lock_);
    return HandOutScalar(portNumber_, pnCOMPort);
}

STDMETHODIMP Rs232Driver::get_BaudRate(long* pnBaudRate) {
    Lock lock(lock_);
    return HandOutScalar(baudRate_, pnBaudRate);  // the stored rate, even one the port refused
}

STDMETHODIMP Rs232Driver::put_BaudRate(long value) {
    Lock lock(lock_);
    baudRate_ = value;
    if (port_) ConfigureRawLine(port_.get(), static_cast<DWORD>(baudRate_));
    return S_OK;
}

STDMETHODIMP Rs232Driver::Write(VARIANT varDataAry) {
    Lock lock(lock_);
    DWORD expected = 0, written = 0;
    BOOL ok = FALSE;
    {
        ByteArrayInput bytes(varDataAry, Dimensions::ExactlyOne);
        if (!bytes.ok()) return ReportError(ClassId(), L"variant type mismatch", E_INVALIDARG);
        expected = bytes.size();
        ok = port_ && ::WriteFile(port_.get(), bytes.data(), expected, &written, nullptr);
        if (port_ && !ok) TRACE_LAST_ERROR("WriteFile");
    }  // the caller's array is unlocked before any report
    if (!ok) return ReportError(ClassId(), L"WriteFile failed", E_FAIL);
    if (written != expected) return ReportError(ClassId(), L"not all bytes transmitted", E_FAIL);
    return S_OK;
}

STDMETHODIMP Rs232Driver::Read(long nNbrOfBytes2Read, VARIANT* pvarByteDataAry) {
    Lock lock(lock_);
    if (!pvarByteDataAry) return E_POINTER;
    UniqueSafeArray array = CreateByteArray(nNbrOfBytes2Read);
    if (!array) return ReportError(ClassId(), L"variant create failed", E_FAIL);

    const DWORD expected = static_cast<DWORD>(nNbrOfBytes2Read);
    DWORD received = 0;
    BOOL ok = FALSE;
    {
        // Straight into the array handed out: no copy.
        SafeArrayDataAccess access(array.get());
        BYTE* data = access.ok() ? access.data() : nullptr;
        ok = port_ && (data || expected == 0) &&
             ::ReadFile(port_.get(), data, expected, &received, nullptr);
        if (port_ && data && !ok) TRACE_LAST_ERROR("ReadFile");
    }
    if (!ok) return ReportError(ClassId(), L"ReadFile failed", E_FAIL);
    // What did arrive of a short read is dropped with the array.
    if (received != expected) return ReportError(ClassId(), L"not all bytes received", E_FAIL);
    HandOutByteArray(std::move(array), pvarByteDataAry);
    return S_OK;
}

STDMETHODIMP Rs232Driver::ReadAvailableBytes(VARIANT* pvarByteDataAry) {
    Lock lock(lock_);
    if (!pvarByteDataAry) return E_POINTER;
    COMMTIMEOUTS kept{};
    if (!port_ || !::GetCommTimeouts(port_.get(), &kept)) return E_FAIL;
    COMMTIMEOUTS immediate = ImmediateReadTimeouts(kept);
    if (!::SetCommTimeouts(port_.get(), &immediate)) return E_FAIL;

    BYTE buffer[kQueueBytes];
    DWORD received = 0;
    const BOOL readOk = ::ReadFile(port_.get(), buffer, sizeof buffer, &received, nullptr);
    UniqueSafeArray array;
    if (readOk) array = CreateByteArray(static_cast<LONG>(received));
    if (array) {
        SafeArrayDataAccess access(array.get());
        if (received > 0 && access.ok()) ::CopyMemory(access.data(), buffer, received);
    }
    // The time-outs go back on every path, so later Reads wait their full time again.
    const bool restored = ::SetCommTimeouts(port_.get(), &kept) != FALSE;
    if (!array) return E_FAIL;  // a failed read is never reported as an empty success
    HandOutByteArray(std::move(array), pvarByteDataAry);
    return restored ? S_OK : E_FAIL;
}

}  // namespace tarn
