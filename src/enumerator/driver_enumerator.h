#pragma once
// DriverEnumerator: lists the serial ports the system has registered.
#include "TarnDriver.h"
#include "enumerator/dispids.h"
#include "com/automation_object.h"
#include "enumerator/port_list_parameter.h"

namespace tarn {

class DriverEnumerator : public AutomationObject<IDriverEnumerator, CLSID_DriverEnumerator> {
public:
    // The port list comes back into a script's variable as an array of VARIANT strings.
    static constexpr ScriptArrayParameter kScriptArrays[] = {{TARN_DISPID_ENUMERATE_PORTS, 1, &kPortList}};
    // Lives in one apartment, so its count needs no interlocking.
    static constexpr bool kAtomicRefCount = false;

    STDMETHODIMP EnumeratePorts(BSTR bstrPortFamily, SAFEARRAY** ppbstrPortsAry, BSTR bstrOption,
                                VARIANT varReserved1, VARIANT varReserved2) override;
};

}  // namespace tarn
