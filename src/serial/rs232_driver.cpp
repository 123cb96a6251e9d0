#include "serial/rs232_driver.h"

namespace tarn {

// Not built yet: every method answers E_NOTIMPL.
STDMETHODIMP Rs232Driver::Open(long, VARIANT_BOOL*) { return E_NOTIMPL; }
STDMETHODIMP Rs232Driver::Write(VARIANT) { return E_NOTIMPL; }
STDMETHODIMP Rs232Driver::Read(long, VARIANT*) { return E_NOTIMPL; }
STDMETHODIMP Rs232Driver::ReadAvailableBytes(VARIANT*) { return E_NOTIMPL; }
STDMETHODIMP Rs232Driver::Close() { return E_NOTIMPL; }
STDMETHODIMP Rs232Driver::get_PortName(BSTR*) { return E_NOTIMPL; }
STDMETHODIMP Rs232Driver::get_PortNumber(long*) { return E_NOTIMPL; }
STDMETHODIMP Rs232Driver::get_BaudRate(long*) { return E_NOTIMPL; }
STDMETHODIMP Rs232Driver::put_BaudRate(long) { return E_NOTIMPL; }

}  // namespace tarn
