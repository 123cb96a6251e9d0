#pragma once
// Rs232DigitalIoDriver: the modem-control lines of a serial port as digital
// inputs and outputs, with events for input changes.
#include "TarnDriver.h"
#include "module/automation_object.h"
#include "platform/critical_section.h"

namespace tarn {

class Rs232DigitalIoDriver
    : public AutomationObject<IRs232DigitalIoDriver, CLSID_Rs232DigitalIoDriver,
                              &DIID__IRs232DigitalIoDriverEvents>,
      public IConnectionPointContainer {
public:
    using Interfaces = AutomationInterfaces<IRs232DigitalIoDriver, Entry<IConnectionPointContainer>>;
    static constexpr bool kAtomicRefCount = true;

    STDMETHODIMP Open(BSTR bstrPortName, VARIANT_BOOL* pbSuccess) override;
    STDMETHODIMP Close() override;
    STDMETHODIMP SetDTR(long nDTR) override;
    STDMETHODIMP GetDTR(long* pnDTR) override;
    STDMETHODIMP SetRTS(long nRTS) override;
    STDMETHODIMP GetRTS(long* pnRTS) override;
    STDMETHODIMP GetDSR(long* pnDSR) override;
    STDMETHODIMP GetCTS(long* pnCTS) override;
    STDMETHODIMP SetBreak(long nBreak) override;
    STDMETHODIMP GetRI(long* pnRI) override;
    STDMETHODIMP GetDCD(long* pnDCD) override;
    STDMETHODIMP get_PortName(BSTR* pbstrCOMPort) override;
    STDMETHODIMP get_PortNumber(long* pnCOMPort) override;
    STDMETHODIMP get_DebounceTime(long* pnDebounceTime) override;
    STDMETHODIMP put_DebounceTime(long value) override;

    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

private:
    CriticalSection lock_;
};

}  // namespace tarn
