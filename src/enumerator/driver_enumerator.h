#pragma once
// DriverEnumerator: lists the serial ports the system has registered.
#include "TarnDriver.h"
#include "module/automation_object.h"

namespace tarn {

class DriverEnumerator : public AutomationObject<IDriverEnumerator, CLSID_DriverEnumerator> {
public:
    using Interfaces = AutomationInterfaces<IDriverEnumerator>;
    // Lives in one apartment, so its count needs no interlocking.
    static constexpr bool kAtomicRefCount = false;

    STDMETHODIMP EnumeratePorts(BSTR bstrPortFamily, SAFEARRAY** ppbstrPortsAry, BSTR bstrOption,
                                VARIANT varReserved1, VARIANT varReserved2) override;
};

}  // namespace tarn
