#pragma once
// The COM identity of every class, written once:
//  - InterfaceTable: the interfaces an object answers, in lookup order;
//  - ComObject<T>: a stand-alone object with its reference count;
//  - ComAggregate<T>: the same object inside an outer object (aggregation);
//  - CreateInstance<T>: the object-creation function of the object map, and
//    CreateUnaggregatedInstance<T> for a class that refuses to be aggregated.
// A class T derives from its interfaces and declares
//   using Interfaces = InterfaceTable<Entry<...>, ...>;
//   static constexpr bool kAtomicRefCount = true / false;
// Its IUnknown methods are implemented here, never in the class itself.
#include <windows.h>
#include <unknwn.h>

#include <new>
#include <utility>

#include "com/module_record.h"

namespace tarn {

// One row of an interface table: Itf is answered by casting the object through
// Via (IDispatch is answered through the dual interface, for example).
template <class Itf, class Via = Itf>
struct Entry {
    template <class T>
    static bool Find(T* object, REFIID iid, void** out) noexcept {
        if (!::IsEqualIID(iid, __uuidof(Itf))) return false;
        *out = static_cast<Itf*>(static_cast<Via*>(object));
        return true;
    }
    template <class T>
    static IUnknown* First(T* object) noexcept {
        return static_cast<Via*>(object);
    }
};

// IUnknown is answered with the first row's pointer, the object's identity.
template <class FirstEntry, class... Rest>
struct InterfaceTable {
    template <class T>
    static HRESULT Find(T* object, REFIID iid, void** out) noexcept {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (::IsEqualIID(iid, IID_IUnknown)) {
            *out = FirstEntry::First(object);
        } else if (!(FirstEntry::Find(object, iid, out) || (Rest::Find(object, iid, out) || ...))) {
            return E_NOINTERFACE;
        }
        static_cast<IUnknown*>(*out)->AddRef();
        return S_OK;
    }
    template <class T>
    static IUnknown* Identity(T* object) noexcept {
        return FirstEntry::First(object);
    }
};

// Reference counts: interlocked for classes that any thread may call, plain for
// apartment-bound ones.
template <bool Atomic>
struct RefCount {
    LONG value = 0;
    ULONG Increment() noexcept { return Atomic ? ::InterlockedIncrement(&value) : ++value; }
    ULONG Decrement() noexcept { return Atomic ? ::InterlockedDecrement(&value) : --value; }
    // Drops one reference; the last one destroys its owner.
    template <class Owner>
    ULONG Release(Owner* owner) noexcept {
        const ULONG remaining = Decrement();
        if (remaining == 0) delete owner;
        return remaining;
    }
};

// Each existing object holds the module's lock count up.
class ModuleLockHolder {
public:
    ModuleLockHolder() noexcept { Module().Lock(); }
    ~ModuleLockHolder() { Module().Unlock(); }
    ModuleLockHolder(const ModuleLockHolder&) = delete;
    ModuleLockHolder& operator=(const ModuleLockHolder&) = delete;
};

// The module lock is the first base, so it is released only after the class's
// destructor has run to its end.
template <class T>
class ComObject final : private ModuleLockHolder, public T {
public:
    // Objects made by the module itself (not by a class object) may take arguments.
    template <class... Arguments>
    explicit ComObject(Arguments&&... arguments) noexcept : T(std::forward<Arguments>(arguments)...) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        return T::Interfaces::Find(static_cast<T*>(this), iid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return refs_.Increment(); }
    STDMETHODIMP_(ULONG) Release() override { return refs_.Release(this); }

private:
    RefCount<T::kAtomicRefCount> refs_;
};

// The inner object of an aggregate: its interfaces' IUnknown methods go to the
// outer object, which owns the identity.
template <class T>
class ComContainedObject final : public T {
public:
    explicit ComContainedObject(IUnknown* outer) noexcept : outer_(outer) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        return outer_->QueryInterface(iid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return outer_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return outer_->Release(); }

    HRESULT InnerQueryInterface(REFIID iid, void** out) noexcept {
        return T::Interfaces::Find(static_cast<T*>(this), iid, out);
    }

private:
    IUnknown* outer_;  // not counted: the outer object owns us
};

// The non-delegating unknown that an outer object holds; its count decides the
// life of the contained object.
template <class T>
class ComAggregate final : private ModuleLockHolder, public IUnknown {
public:
    explicit ComAggregate(IUnknown* outer) noexcept : contained_(outer) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (::IsEqualIID(iid, IID_IUnknown)) {
            *out = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return contained_.InnerQueryInterface(iid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return refs_.Increment(); }
    STDMETHODIMP_(ULONG) Release() override { return refs_.Release(this); }

private:
    RefCount<T::kAtomicRefCount> refs_;
    ComContainedObject<T> contained_;
};

// The object-creation function of a class.  A temporary reference keeps the
// new object alive while it is asked for the interface; a failed request
// destroys it again.
template <class T>
HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    IUnknown* object = nullptr;
    if (!outer) {
        auto* plain = new (std::nothrow) ComObject<T>();
        if (!plain) return E_OUTOFMEMORY;
        object = T::Interfaces::Identity(static_cast<T*>(plain));
    } else {
        if (!::IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        object = new (std::nothrow) ComAggregate<T>(outer);
        if (!object) return E_OUTOFMEMORY;
    }
    object->AddRef();
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

template <class T>
HRESULT CreateUnaggregatedInstance(IUnknown* outer, REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    return outer ? CLASS_E_NOAGGREGATION : CreateInstance<T>(nullptr, iid, out);
}

}  // namespace tarn
