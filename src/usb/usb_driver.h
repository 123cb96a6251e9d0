#pragma once
// UsbDriver: one USB device reached through its kernel-mode driver: vendor
// requests, bulk transfers on the main endpoint and device locks.  Requests of
// all objects and processes using one device are serialised by a named mutex.
// Failures are reported by HRESULT alone, never with error information.
#include "TarnDriver.h"
#include "com/automation_object.h"
#include "usb/dispids.h"
#include "platform/critical_section.h"
#include "platform/unique_handle.h"

namespace tarn {

class UsbDriver : public AutomationObject<IUsbDriver, CLSID_UsbDriver> {
public:
    // Scripts pass their byte arrays in variables: both transfers work in place on the array the variable holds.
    static constexpr ScriptArrayParameter kScriptArrays[] = {
        {TARN_DISPID_WRITE_MAIN_ENDPOINT, 1, &kBytesInPlace},
        {TARN_DISPID_READ_MAIN_ENDPOINT, 1, &kBytesInPlace},
    };

    STDMETHODIMP Open(ETNDevice etnltDevice, short nDeviceNbr, VARIANT_BOOL* pbSuccess) override;
    STDMETHODIMP Close() override;
    STDMETHODIMP VendorRequestWrite(unsigned char byteRequestID, short nParam1, short nParam2,
                                    VARIANT varByteDataAry) override;
    STDMETHODIMP VendorRequestRead(unsigned char byteRequestID, short nParam1, short nParam2,
                                   long nNbrOfBytes, VARIANT* pvarByteDataAry) override;
    STDMETHODIMP WriteMainEndpoint(long nNbrOfBytes2Write, SAFEARRAY** ppbyteDataAry) override;
    STDMETHODIMP ReadMainEndpoint(long nNbrOfBytes2Read, SAFEARRAY** ppbyteDataAry) override;
    STDMETHODIMP ResetMainEndpointOut() override;
    STDMETHODIMP ResetMainEndpointIn() override;
    STDMETHODIMP LockDevice(ETNLockType lockType, long* pnKey) override;
    STDMETHODIMP UnlockDevice(ETNLockType lockType, long nKey) override;
    STDMETHODIMP get_Lock(ETNLockType lockType, VARIANT_BOOL* pVal) override;

private:
    // Both handles are closed by Close and by destruction; no unlock is sent.
    void CloseHandles() noexcept;
    bool DeviceOpen() const noexcept { return device_.valid(); }
    // The main endpoint's two transfers: the same checks, priority and mutex.
    enum class Endpoint { Out, In };
    HRESULT TransferMainEndpoint(Endpoint direction, long count, SAFEARRAY** array) noexcept;

    CriticalSection lock_;     // held by every method for its whole call
    UniqueFileHandle device_;  // the device object, while open
    UniqueHandle deviceMutex_; // shared by every user of the device, in every process
};

}  // namespace tarn
