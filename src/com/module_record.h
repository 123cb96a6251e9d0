#pragma once
// The module record: the one piece of process-wide state of a module.  It
// holds the module's instance handle, the lock count (reasons not to unload),
// and for each class of the module's object map its class object and the type
// information of the class and of its dual interface.
#include <windows.h>
#include <oaidl.h>

#include <memory>

#include "automation/hresult.h"
#include "com/object_map.h"
#include "com/type_info_holder.h"
#include "platform/com_ptr.h"
#include "platform/critical_section.h"

namespace tarn {

class ModuleRecord {
public:
    // False when the per-class state cannot be allocated.
    bool Attach(HINSTANCE instance, const ObjectMap& objects) noexcept;
    // Releases the class objects and type information, unless the process is
    // ending (then COM may already be gone and the memory goes with the process).
    void Detach(bool processEnding) noexcept;

    HINSTANCE Instance() const noexcept { return instance_; }
    const ObjectMap& Objects() const noexcept { return *objects_; }
    // The module's file.
    HRESULT Path(wchar_t (&path)[MAX_PATH]) const noexcept;
    // The identifier and version of the type library the module carries (as
    // registration files it), read from the module once.
    HRESULT LibraryIdentity(TLIBATTR& identity) noexcept;

    void Lock() noexcept { ::InterlockedIncrement(&lockCount_); }
    void Unlock() noexcept { ::InterlockedDecrement(&lockCount_); }
    bool CanUnload() const noexcept { return lockCount_ == 0; }

    CriticalSection& TypeInfoLock() noexcept { return typeInfoLock_; }
    // The holder for a dual interface or class of the object map.
    TypeInfoHolder& TypeInfo(REFGUID guid) noexcept;

    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept;

private:
    struct ClassState {
        TypeInfoHolder interfaceType;
        TypeInfoHolder classType;
        ComPtr<IUnknown> classObject;
    };

    HINSTANCE instance_ = nullptr;
    const ObjectMap* objects_ = nullptr;
    volatile LONG lockCount_ = 0;
    CriticalSection typeInfoLock_;
    CriticalSection classObjectLock_;
    TLIBATTR library_{};  // valid once libraryKnown_
    bool libraryKnown_ = false;
    std::unique_ptr<ClassState[]> classes_;  // one per entry of the object map
    TypeInfoHolder unknownType_;  // answers nothing: its GUID is not in the library
};

ModuleRecord& Module() noexcept;

}  // namespace tarn
