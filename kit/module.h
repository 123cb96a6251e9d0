// The module record: the kit's only process-wide state (instance handle, lock
// count, the type library once loaded), and the base every COM object shares.
#pragma once

#include <atomic>
#include <string>

#include "com_handles.h"

namespace tarnkit {

struct ModuleRecord {
    HINSTANCE instance = nullptr;
    std::atomic<long> lockCount{0};  // objects, held class factories, LockServer
    CriticalSection typeLibLock;
    ComPtr<ITypeLib> typeLib;        // loaded from the module's own resource
};

ModuleRecord& Module();

std::wstring ModulePath();

// Type information for one interface or coclass of the kit's type library.
HRESULT GetKitTypeInfo(REFGUID guid, ITypeInfo** info);

// Reference counting shared by the kit's objects; each living object holds the
// module loaded.
class RefCountedObject {
public:
    RefCountedObject(const RefCountedObject&) = delete;
    RefCountedObject& operator=(const RefCountedObject&) = delete;

protected:
    RefCountedObject() { ++Module().lockCount; }
    virtual ~RefCountedObject() { --Module().lockCount; }

    ULONG addRef() { return ++refs_; }
    ULONG release()
    {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

private:
    std::atomic<ULONG> refs_{1};
};

}  // namespace tarnkit
