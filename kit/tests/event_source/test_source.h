// TestSource: a free-threaded connection-point event source for the bridge's
// tests.  FireLater fires from a new thread of the multithreaded apartment.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "TarnKitTestSource.h"
#include "dual_dispatch.h"

namespace tarnkit_test {

using tarnkit::ComPtr;

class TestSource : public tarnkit::DualDispatch<ITestSource, &IID_ITestSource>,
                   public IConnectionPointContainer,
                   public IProvideClassInfo2,
                   private tarnkit::RefCountedObject {
public:
    TestSource() : TestSource(CLSID_TestSource, true) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return addRef(); }
    STDMETHODIMP_(ULONG) Release() override { return release(); }

    STDMETHODIMP FireLater(BSTR eventName, BSTR text, LONG number, LONG delayMs) override;
    STDMETHODIMP get_ConnectionCount(LONG* count) override;
    STDMETHODIMP get_FiredFromMta(VARIANT_BOOL* mta) override;

    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

    STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

    // Calls every connected sink; runs on the firing thread.
    void fire(const std::wstring& eventName, const std::wstring& text, LONG number);

protected:
    TestSource(const CLSID& clsid, bool offersDefaultSourceGuid);

private:
    // The one connection point; its references are the source's.
    class Point final : public IConnectionPoint {
    public:
        explicit Point(TestSource& owner) : owner_(owner) {}
        STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
        STDMETHODIMP_(ULONG) AddRef() override { return owner_.AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return owner_.Release(); }
        STDMETHODIMP GetConnectionInterface(IID* iid) override;
        STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
        STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
        STDMETHODIMP Unadvise(DWORD cookie) override;
        STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

    private:
        TestSource& owner_;
    };

    const CLSID clsid_;
    const bool offersDefaultSourceGuid_;
    Point point_{*this};
    tarnkit::CriticalSection lock_;  // guards the members below
    std::vector<std::pair<DWORD, ComPtr<IDispatch>>> sinks_;
    DWORD nextCookie_ = 1;
    bool firedFromMta_ = false;
};

// Finds its events only through IProvideClassInfo and its coclass.
class TestSourceClassInfoOnly final : public TestSource {
public:
    TestSourceClassInfoOnly() : TestSource(CLSID_TestSourceClassInfoOnly, false) {}
};

}  // namespace tarnkit_test
