#include "digitalio/rs232_digital_io_driver.h"

#include <olectl.h>

namespace tarn {

// Not built yet: every method answers E_NOTIMPL.
STDMETHODIMP Rs232DigitalIoDriver::Open(BSTR, VARIANT_BOOL*) { return E_NOTIMPL; }
STDMETHODIMP Rs232DigitalIoDriver::Close() { return E_NOTIMPL; }
STDMETHODIMP Rs232DigitalIoDriver::SetDTR(long) { return E_NOTIMPL; }
STDMETHODIMP Rs232DigitalIoDriver::GetDTR(long*) { return E_NOTIMPL; }
STDMETHODIMP Rs232DigitalIoDriver::SetRTS(long) { return E_NOTIMPL; }
STDMETHODIMP Rs232DigitalIoDriver::GetRTS(long*) { return E_NOTIMPL; }
STDMETHODIMP Rs232DigitalIoDriver::GetDSR(long*) { return E_NOTIMPL; }
STDMETHODIMP Rs232DigitalIoDriver::GetCTS(long*) { return E_NOTIMPL; }
STDMETHODIMP Rs232DigitalIoDriver::SetBreak(long) { return E_NOTIMPL; }
STDMETHODIMP Rs232DigitalIoDriver::GetRI(long*) { return E_NOTIMPL; }
STDMETHODIMP Rs232DigitalIoDriver::GetDCD(long*) { return E_NOTIMPL; }
STDMETHODIMP Rs232DigitalIoDriver::get_PortName(BSTR*) { return E_NOTIMPL; }
STDMETHODIMP Rs232DigitalIoDriver::get_PortNumber(long*) { return E_NOTIMPL; }
STDMETHODIMP Rs232DigitalIoDriver::get_DebounceTime(long*) { return E_NOTIMPL; }
STDMETHODIMP Rs232DigitalIoDriver::put_DebounceTime(long) { return E_NOTIMPL; }
STDMETHODIMP Rs232DigitalIoDriver::EnumConnectionPoints(IEnumConnectionPoints**) { return E_NOTIMPL; }
STDMETHODIMP Rs232DigitalIoDriver::FindConnectionPoint(REFIID, IConnectionPoint** ppCP) {
    if (!ppCP) return E_POINTER;
    *ppCP = nullptr;
    return CONNECT_E_NOCONNECTION;
}

}  // namespace tarn
