#pragma once
// Type information of one interface or class, loaded from the registered type
// library on first use and kept for the life of the module.  The names of the
// interface's functions are cached, so the common lookup (one member's name,
// in any case) is a comparison rather than a call into the type information.
#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <memory>

#include "automation/unique_bstr.h"
#include "com/script_arrays.h"

namespace tarn {

class TypeInfoHolder {
public:
    void Init(const GUID& guid, ScriptArrayTable scriptArrays = {}) noexcept {
        guid_ = &guid;
        scriptArrays_ = scriptArrays;
    }
    // The interface's parameters that take a script's arrays.
    ScriptArrayTable ScriptArrays() const noexcept { return scriptArrays_; }

    // Loads on first use with the caller's locale; a failed load is retried by
    // the next caller.
    HRESULT Load(LCID lcid) noexcept;
    // The loaded type information, without a reference of its own; null before Load succeeds.
    ITypeInfo* Loaded() const noexcept { return info_.load(std::memory_order_acquire); }

    HRESULT GetTypeInfo(LCID lcid, ITypeInfo** out) noexcept;
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) noexcept;

    // At module termination: releases the type information and the name cache.
    void Release() noexcept;

private:
    struct CachedName {
        UniqueBstr name;
        UINT length = 0;
        DISPID id = DISPID_UNKNOWN;
    };

    void BuildNameCache(ITypeInfo* info) noexcept;
    bool FindCached(const wchar_t* name, DISPID& id) const noexcept;

    const GUID* guid_ = nullptr;
    ScriptArrayTable scriptArrays_;
    std::atomic<ITypeInfo*> info_{nullptr};
    std::unique_ptr<CachedName[]> names_;
    UINT nameCount_ = 0;
};

}  // namespace tarn
