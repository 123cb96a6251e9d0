#pragma once
// Rs232DigitalIoDriver: the modem-control lines of a serial port as digital
// outputs (DTR, RTS, break) and inputs (DSR, CTS, RI, DCD), with events for
// input changes (fired by the input monitor) and OnText when a port opens.
#include <atomic>

#include "TarnDriver.h"
#include "events/connection_point.h"
#include "digitalio/control_port.h"
#include "digitalio/input_monitor.h"
#include "digitalio/event_ids.h"
#include "events/sink_list.h"
#include "automation/unique_bstr.h"
#include "com/automation_object.h"
#include "platform/critical_section.h"

namespace tarn {

class Rs232DigitalIoDriver
    : public AutomationObject<IRs232DigitalIoDriver, CLSID_Rs232DigitalIoDriver,
                              &DIID__IRs232DigitalIoDriverEvents>,
      public IConnectionPointContainer {
public:
    using Interfaces = AutomationInterfaces<IRs232DigitalIoDriver, Entry<IConnectionPointContainer>>;

    Rs232DigitalIoDriver() noexcept;
    ~Rs232DigitalIoDriver();

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
    HRESULT NotOpen() const noexcept;
    HRESULT SetOutput(long value, DWORD setCode, DWORD clearCode, long* stored) noexcept;
    HRESULT ReadInput(DWORD statusBit, long* out) noexcept;

    // Every method holds it for its whole run; it also guards the sink list.
    CriticalSection lock_;
    ControlPort port_;
    UniqueBstr portName_;  // of the last successful Open; null before the first
    long dtr_ = 0;         // as last passed to SetDTR, not reduced to 0/1
    long rts_ = 0;
    std::atomic<long> debounceMs_{0};  // read by the monitor without the lock
    SinkList sinks_{lock_};
    ConnectionPoint connectionPoint_;
    InputMonitor monitor_;  // last: started once everything else exists
};

}  // namespace tarn
