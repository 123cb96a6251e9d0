#include "module/module.h"

#include "TarnDriver.h"
#include "module/class_factory.h"

namespace tarn {

ModuleRecord& Module() noexcept {
    static ModuleRecord record;
    return record;
}

void ModuleRecord::Attach(HINSTANCE instance) noexcept {
    instance_ = instance;
    libraryId_ = &LIBID_TarnDriver;
    for (int i = 0; i < kObjectMapSize; ++i) {
        interfaceTypes_[i].Init(*kObjectMap[i].dualInterface, kObjectMap[i].scriptArrays);
        classTypes_[i].Init(*kObjectMap[i].clsid);
    }
    unknownType_.Init(GUID_NULL);
}

void ModuleRecord::Detach(bool processEnding) noexcept {
    if (processEnding) return;
    for (auto& classObject : classObjects_) classObject.reset();
    for (auto& holder : interfaceTypes_) holder.Release();
    for (auto& holder : classTypes_) holder.Release();
}

TypeInfoHolder& ModuleRecord::TypeInfo(REFGUID guid) noexcept {
    for (int i = 0; i < kObjectMapSize; ++i) {
        if (::IsEqualGUID(guid, *kObjectMap[i].dualInterface)) return interfaceTypes_[i];
        if (::IsEqualGUID(guid, *kObjectMap[i].clsid)) return classTypes_[i];
    }
    return unknownType_;
}

HRESULT ModuleRecord::GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (int i = 0; i < kObjectMapSize; ++i) {
        if (!::IsEqualCLSID(clsid, *kObjectMap[i].clsid)) continue;
        tarn::Lock lock(classObjectLock_);
        if (!classObjects_[i]) {
            ClassFactory* created = ClassFactory::Create(kObjectMap[i].create);
            if (!created) return E_OUTOFMEMORY;
            // The map's reference is the first one the class object receives.
            RETURN_IF_FAILED(created->QueryInterface(IID_IUnknown, classObjects_[i].put_void()));
        }
        return classObjects_[i]->QueryInterface(iid, out);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace tarn
