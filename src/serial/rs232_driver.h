#pragma once
// Rs232Driver: raw bytes on one serial port opened by number.
#include "TarnDriver.h"
#include "com/automation_object.h"
#include "platform/critical_section.h"
#include "platform/unique_handle.h"

namespace tarn {

class Rs232Driver : public AutomationObject<IRs232Driver, CLSID_Rs232Driver> {
public:
    STDMETHODIMP Open(long nPortNumber, VARIANT_BOOL* pbSuccess) override;
    STDMETHODIMP Write(VARIANT varDataAry) override;
    STDMETHODIMP Read(long nNbrOfBytes2Read, VARIANT* pvarByteDataAry) override;
    STDMETHODIMP ReadAvailableBytes(VARIANT* pvarByteDataAry) override;
    STDMETHODIMP Close() override;
    STDMETHODIMP get_PortName(BSTR* pbstrCOMPort) override;
    STDMETHODIMP get_PortNumber(long* pnCOMPort) override;
    STDMETHODIMP get_BaudRate(long* pnBaudRate) override;
    STDMETHODIMP put_BaudRate(long value) override;

private:
    // Every method holds it for its whole run, blocking transfers included, so
    // calls on one object are serialised.  Member order: the port closes first.
    CriticalSection lock_;
    UniqueFileHandle port_;
    long portNumber_ = 0;    // of the last successful Open; 0 after Close
    long baudRate_ = 9600;   // applied at every Open and on every write while open
};

}  // namespace tarn
