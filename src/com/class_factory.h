#pragma once
// The class object of one class: creates its objects, and holds the module's
// lock count up while any client (besides the object map) holds it.
#include <windows.h>
#include <unknwn.h>

#include "com/object_map.h"
#include "platform/critical_section.h"

namespace tarn {

class ClassFactory final : public IClassFactory {
public:
    // A new class object with reference count 0, or null when out of memory.
    static ClassFactory* Create(CreateFunction create) noexcept;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    explicit ClassFactory(CreateFunction create) noexcept : create_(create) {}
    ~ClassFactory() = default;

    CriticalSection lock_;
    volatile LONG refs_ = 0;
    CreateFunction create_;
};

}  // namespace tarn
