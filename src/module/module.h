#pragma once
// The module record: the one piece of process-wide state of the library.  It
// holds the module's instance handle, the lock count (reasons not to unload),
// the cached class objects and the type information of every class.
#include <windows.h>

#include "automation/hresult.h"
#include "module/object_map.h"
#include "module/type_info_holder.h"
#include "platform/com_ptr.h"
#include "platform/critical_section.h"

namespace tarn {

class ModuleRecord {
public:
    void Attach(HINSTANCE instance) noexcept;
    // Releases the class objects and type information, unless the process is
    // ending (then COM may already be gone and the memory goes with the process).
    void Detach(bool processEnding) noexcept;

    HINSTANCE Instance() const noexcept { return instance_; }
    const GUID& LibraryId() const noexcept { return *libraryId_; }

    void Lock() noexcept { ::InterlockedIncrement(&lockCount_); }
    void Unlock() noexcept { ::InterlockedDecrement(&lockCount_); }
    bool CanUnload() const noexcept { return lockCount_ == 0; }

    CriticalSection& TypeInfoLock() noexcept { return typeInfoLock_; }
    // The holder for a dual interface or class of the object map.
    TypeInfoHolder& TypeInfo(REFGUID guid) noexcept;

    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept;

private:
    HINSTANCE instance_ = nullptr;
    const GUID* libraryId_ = nullptr;
    volatile LONG lockCount_ = 0;
    CriticalSection typeInfoLock_;
    CriticalSection classObjectLock_;
    TypeInfoHolder interfaceTypes_[kObjectMapSize];
    TypeInfoHolder classTypes_[kObjectMapSize];
    TypeInfoHolder unknownType_;  // answers nothing: its GUID is not in the library
    ComPtr<IUnknown> classObjects_[kObjectMapSize];
};

ModuleRecord& Module() noexcept;

}  // namespace tarn
