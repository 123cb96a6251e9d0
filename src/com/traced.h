#pragma once
// Traced<T>: class T with every member of its dual interface passing through
// the trace.  The overrides are generated from the type library's header
// (traced_members.py), one template per dual interface, and registered here
// through TracedFor; a class with no generated template is itself.
namespace tarn {

template <class Dual, class T>
struct TracedFor {
    using type = T;
};

template <class T>
using Traced = typename TracedFor<typename T::DualInterface, T>::type;

}  // namespace tarn
