#include "com/class_factory.h"

#include <new>

#include "com/module_record.h"
#include "platform/trace.h"

namespace tarn {

ClassFactory* ClassFactory::Create(CreateFunction create) noexcept {
    return new (std::nothrow) ClassFactory(create);
}

STDMETHODIMP ClassFactory::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IClassFactory)) {
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

// The object map keeps the first reference; the second one is a client's, and
// only clients hold the module in memory.
STDMETHODIMP_(ULONG) ClassFactory::AddRef() {
    Lock lock(lock_);
    const LONG count = ::InterlockedIncrement(&refs_);
    if (count == 2) Module().Lock();
    return count;
}

STDMETHODIMP_(ULONG) ClassFactory::Release() {
    LONG count;
    {
        Lock lock(lock_);
        count = ::InterlockedDecrement(&refs_);
    }
    if (count == 0) {
        delete this;
    } else if (count == 1) {
        Module().Unlock();
    }
    return count;
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer && !::IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    ReloadTraceSettings();  // a trace switched on since the last object takes effect now
    return create_(outer, iid, out);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) {
    if (lock) {
        Module().Lock();
    } else {
        Module().Unlock();
    }
    return S_OK;
}

}  // namespace tarn
