#include "com/module_record.h"

#include <oleauto.h>

#include <new>

#include "com/class_factory.h"

namespace tarn {

ModuleRecord& Module() noexcept {
    static ModuleRecord record;
    return record;
}

bool ModuleRecord::Attach(HINSTANCE instance, const ObjectMap& objects) noexcept {
    instance_ = instance;
    objects_ = &objects;
    classes_.reset(new (std::nothrow) ClassState[objects.count]);
    if (!classes_) return false;
    for (size_t i = 0; i < objects.count; ++i) {
        classes_[i].interfaceType.Init(*objects.entries[i].dualInterface, objects.entries[i].scriptArrays);
        classes_[i].classType.Init(*objects.entries[i].clsid);
    }
    unknownType_.Init(GUID_NULL);
    return true;
}

void ModuleRecord::Detach(bool processEnding) noexcept {
    if (processEnding || !classes_) return;
    for (size_t i = 0; i < objects_->count; ++i) {
        classes_[i].classObject.reset();
        classes_[i].interfaceType.Release();
        classes_[i].classType.Release();
    }
}

HRESULT ModuleRecord::Path(wchar_t (&path)[MAX_PATH]) const noexcept {
    const DWORD length = ::GetModuleFileNameW(instance_, path, MAX_PATH);
    return length == 0 || length == MAX_PATH ? E_FAIL : S_OK;
}

HRESULT ModuleRecord::LibraryIdentity(TLIBATTR& identity) noexcept {
    tarn::Lock lock(typeInfoLock_);
    if (!libraryKnown_) {
        wchar_t path[MAX_PATH];
        RETURN_IF_FAILED(Path(path));
        ComPtr<ITypeLib> library;
        RETURN_IF_FAILED(::LoadTypeLibEx(path, REGKIND_NONE, library.put()));
        TLIBATTR* attributes = nullptr;
        RETURN_IF_FAILED(library->GetLibAttr(&attributes));
        library_ = *attributes;
        library->ReleaseTLibAttr(attributes);
        libraryKnown_ = true;
    }
    identity = library_;
    return S_OK;
}

TypeInfoHolder& ModuleRecord::TypeInfo(REFGUID guid) noexcept {
    for (size_t i = 0; i < objects_->count; ++i) {
        if (::IsEqualGUID(guid, *objects_->entries[i].dualInterface)) return classes_[i].interfaceType;
        if (::IsEqualGUID(guid, *objects_->entries[i].clsid)) return classes_[i].classType;
    }
    return unknownType_;
}

HRESULT ModuleRecord::GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (size_t i = 0; i < objects_->count; ++i) {
        if (!::IsEqualCLSID(clsid, *objects_->entries[i].clsid)) continue;
        tarn::Lock lock(classObjectLock_);
        ComPtr<IUnknown>& classObject = classes_[i].classObject;
        if (!classObject) {
            ClassFactory* created = ClassFactory::Create(objects_->entries[i].create);
            if (!created) return E_OUTOFMEMORY;
            // The map's reference is the first one the class object receives.
            RETURN_IF_FAILED(created->QueryInterface(IID_IUnknown, classObject.put_void()));
        }
        return classObject->QueryInterface(iid, out);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace tarn
