#include "digitalio/rs232_digital_io_driver.h"

#include <olectl.h>

#include <cwchar>

#include "automation/error_report.h"
#include "automation/out_values.h"

namespace tarn {

namespace {
constexpr wchar_t kOpenGreeting[] = L"Tach auch";
}  // namespace

Rs232DigitalIoDriver::Rs232DigitalIoDriver() noexcept
    : connectionPoint_(static_cast<IRs232DigitalIoDriver*>(this), DIID__IRs232DigitalIoDriverEvents, sinks_),
      monitor_(port_, sinks_, debounceMs_) {
    monitor_.Start();  // parks at once: no port is open yet
}

Rs232DigitalIoDriver::~Rs232DigitalIoDriver() {
    monitor_.Shutdown();
    port_.Close();
    // The members release the sinks, then the lock.
}

HRESULT Rs232DigitalIoDriver::NotOpen() const noexcept {
    return ReportError(ClassId(), L"Device not open", 0);
}

STDMETHODIMP Rs232DigitalIoDriver::Open(BSTR bstrPortName, VARIANT_BOOL* pbSuccess) {
    {
        Lock lock(lock_);
        if (!pbSuccess) return E_POINTER;
        // Copied first: an open port whose name can't be stored would read back as "".
        UniqueBstr name = UniqueBstr::Copy(bstrPortName);
        if (!name) return E_OUTOFMEMORY;
        // A port still held is closed first, so reopening it works and nothing leaks.
        if (!port_.Open(bstrPortName)) return ReportError(ClassId(), L"Cannot open port", 0);
        port_.Configure();
        portName_ = std::move(name);
        port_.Escape(CLRDTR);
        port_.Escape(CLRRTS);
        port_.Escape(CLRBREAK);
        dtr_ = 0;
        rts_ = 0;
        SetSuccessFlag(pbSuccess, true);
    }
    // Outside the lock, so a sink reached through marshalling may call back in.
    sinks_.FireText(kOnText, kOpenGreeting);
    monitor_.Wake();
    return S_OK;
}

STDMETHODIMP Rs232DigitalIoDriver::Close() {
    Lock lock(lock_);
    port_.Close();
    portName_.reset(::SysAllocString(L""));
    return S_OK;
}

HRESULT Rs232DigitalIoDriver::SetOutput(long value, DWORD setCode, DWORD clearCode, long* stored) noexcept {
    Lock lock(lock_);
    if (!port_.IsOpen()) return NotOpen();
    port_.Escape(value ? setCode : clearCode);
    if (stored) *stored = value;
    return S_OK;
}

HRESULT Rs232DigitalIoDriver::ReadInput(DWORD statusBit, long* out) noexcept {
    Lock lock(lock_);
    if (!out) return E_POINTER;
    if (!port_.IsOpen()) return NotOpen();
    *out = (port_.ModemStatus() & statusBit) ? 1 : 0;
    return S_OK;
}

STDMETHODIMP Rs232DigitalIoDriver::SetDTR(long nDTR) { return SetOutput(nDTR, SETDTR, CLRDTR, &dtr_); }
STDMETHODIMP Rs232DigitalIoDriver::SetRTS(long nRTS) { return SetOutput(nRTS, SETRTS, CLRRTS, &rts_); }
STDMETHODIMP Rs232DigitalIoDriver::SetBreak(long nBreak) { return SetOutput(nBreak, SETBREAK, CLRBREAK, nullptr); }

STDMETHODIMP Rs232DigitalIoDriver::GetDTR(long* pnDTR) {
    Lock lock(lock_);
    if (!pnDTR) return E_POINTER;
    if (!port_.IsOpen()) return NotOpen();
    return HandOutScalar(dtr_, pnDTR);
}

STDMETHODIMP Rs232DigitalIoDriver::GetRTS(long* pnRTS) {
    Lock lock(lock_);
    if (!pnRTS) return E_POINTER;
    if (!port_.IsOpen()) return NotOpen();
    return HandOutScalar(rts_, pnRTS);
}

STDMETHODIMP Rs232DigitalIoDriver::GetDSR(long* pnDSR) { return ReadInput(MS_DSR_ON, pnDSR); }
STDMETHODIMP Rs232DigitalIoDriver::GetCTS(long* pnCTS) { return ReadInput(MS_CTS_ON, pnCTS); }
STDMETHODIMP Rs232DigitalIoDriver::GetRI(long* pnRI) { return ReadInput(MS_RING_ON, pnRI); }
STDMETHODIMP Rs232DigitalIoDriver::GetDCD(long* pnDCD) { return ReadInput(MS_RLSD_ON, pnDCD); }

STDMETHODIMP Rs232DigitalIoDriver::get_PortName(BSTR* pbstrCOMPort) {
    Lock lock(lock_);
    return HandOutString(portName_.get(), portName_.length(), pbstrCOMPort);
}

STDMETHODIMP Rs232DigitalIoDriver::get_PortNumber(long* pnCOMPort) {
    Lock lock(lock_);
    if (!pnCOMPort) return E_POINTER;
    int number = 0;
    // Capitals only; the number may carry leading white space and a sign.
    std::swscanf(portName_ ? portName_.get() : L"", L"COM%d", &number);
    *pnCOMPort = number;
    return S_OK;
}

STDMETHODIMP Rs232DigitalIoDriver::get_DebounceTime(long* pnDebounceTime) {
    Lock lock(lock_);
    if (!pnDebounceTime) return E_POINTER;
    if (!port_.IsOpen()) return NotOpen();
    *pnDebounceTime = debounceMs_.load();
    return S_OK;
}

STDMETHODIMP Rs232DigitalIoDriver::put_DebounceTime(long value) {
    Lock lock(lock_);
    if (!port_.IsOpen()) return NotOpen();
    if (value < 0) return E_INVALIDARG;
    debounceMs_ = value;
    return S_OK;
}

STDMETHODIMP Rs232DigitalIoDriver::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    return connectionPoint_.EnumerateAsContainer(ppEnum);
}

STDMETHODIMP Rs232DigitalIoDriver::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    return connectionPoint_.FindAsContainer(riid, ppCP);
}

}  // namespace tarn
