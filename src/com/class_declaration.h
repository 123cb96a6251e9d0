#pragma once
// The object-map entry of a declared class (tarn_declare_class in CMake writes
// one call per class).  The entry is where the declaration meets the class's
// code, so it checks that they agree: a class that any thread may call
// ("Both", "Free") must count its references with interlocked operations, and
// one bound to its apartment ("Apartment") counts them plainly.  Objects are
// made as Traced<T>: T itself unless the module's generated member overrides
// are included (TRACED_MEMBERS).
#include <type_traits>

#include "com/com_object.h"
#include "com/object_map.h"
#include "com/traced.h"

namespace tarn {

// The threading models a class may register (the registry's ThreadingModel values).
enum class ThreadingModel { Apartment, Both, Free };

// Whether an outer object may aggregate the class.
enum class Aggregation { Allowed, Refused };

// A class answers its script-array parameters by declaring kScriptArrays.
template <class T, class = void>
struct DeclaredScriptArrays {
    static constexpr ScriptArrayTable Table() noexcept { return {}; }
};
template <class T>
struct DeclaredScriptArrays<T, std::void_t<decltype(T::kScriptArrays)>> {
    static constexpr ScriptArrayTable Table() noexcept { return TableOf(T::kScriptArrays); }
};

template <class T, ThreadingModel Model, Aggregation Aggregates>
constexpr ObjectMapEntry DeclaredClass(const CLSID& clsid, UINT registrarScript) noexcept {
    static_assert(T::kAtomicRefCount == (Model != ThreadingModel::Apartment),
                  "the class's reference counting does not fit its declared threading model: "
                  "\"Both\" and \"Free\" need kAtomicRefCount = true, \"Apartment\" needs false");
    return {&clsid, &__uuidof(typename T::DualInterface), registrarScript,
            Aggregates == Aggregation::Allowed ? &CreateInstance<Traced<T>> : &CreateUnaggregatedInstance<Traced<T>>,
            DeclaredScriptArrays<T>::Table()};
}

}  // namespace tarn
