#pragma once
// TestSource: a free-threaded connection-point event source for the bridge's
// tests.  FireLater fires from a new thread of the multithreaded apartment.
#include <string>

#include "TarnKitTestSource.h"
#include "com/automation_object.h"
#include "events/connection_point.h"
#include "events/sink_list.h"
#include "platform/critical_section.h"

namespace tarn::kit_test {

class TestSource : public AutomationObject<ITestSource, CLSID_TestSource, &DIID__ITestSourceEvents>,
                   public IConnectionPointContainer {
public:
    using Interfaces = AutomationInterfaces<ITestSource, Entry<IConnectionPointContainer>>;

    TestSource() noexcept;

    STDMETHODIMP FireLater(BSTR eventName, BSTR text, LONG number, LONG delayMs) override;
    STDMETHODIMP get_ConnectionCount(LONG* count) override;
    STDMETHODIMP get_FiredFromMta(VARIANT_BOOL* mta) override;

    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

    // Calls every connected sink; runs on the firing thread.
    void Fire(const std::wstring& eventName, const std::wstring& text, LONG number);

private:
    CriticalSection lock_;  // guards the sinks and the member below
    bool firedFromMta_ = false;
    SinkList sinks_{lock_};
    ConnectionPoint connectionPoint_;
};

// Finds its events only through IProvideClassInfo and its coclass.
class TestSourceClassInfoOnly : public TestSource {
public:
    using Interfaces = InterfaceTable<Entry<ITestSource>, Entry<IDispatch, ITestSource>, Entry<IConnectionPointContainer>,
                                      Entry<ISupportErrorInfo>, Entry<IProvideClassInfo, IProvideClassInfo2>>;

    STDMETHODIMP GetClassInfo(ITypeInfo** out) override;
};

}  // namespace tarn::kit_test
