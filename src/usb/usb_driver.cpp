#include "usb/usb_driver.h"

namespace tarn {

// Not built yet: every method answers E_NOTIMPL.
STDMETHODIMP UsbDriver::Open(ETNDevice, short, VARIANT_BOOL*) { return E_NOTIMPL; }
STDMETHODIMP UsbDriver::Close() { return E_NOTIMPL; }
STDMETHODIMP UsbDriver::VendorRequestWrite(unsigned char, short, short, VARIANT) { return E_NOTIMPL; }
STDMETHODIMP UsbDriver::VendorRequestRead(unsigned char, short, short, long, VARIANT*) { return E_NOTIMPL; }
STDMETHODIMP UsbDriver::WriteMainEndpoint(long, SAFEARRAY**) { return E_NOTIMPL; }
STDMETHODIMP UsbDriver::ReadMainEndpoint(long, SAFEARRAY**) { return E_NOTIMPL; }
STDMETHODIMP UsbDriver::ResetMainEndpointOut() { return E_NOTIMPL; }
STDMETHODIMP UsbDriver::ResetMainEndpointIn() { return E_NOTIMPL; }
STDMETHODIMP UsbDriver::LockDevice(ETNLockType, long*) { return E_NOTIMPL; }
STDMETHODIMP UsbDriver::UnlockDevice(ETNLockType, long) { return E_NOTIMPL; }
STDMETHODIMP UsbDriver::get_Lock(ETNLockType, VARIANT_BOOL*) { return E_NOTIMPL; }

}  // namespace tarn
