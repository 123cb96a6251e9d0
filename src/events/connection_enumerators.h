#pragma once
// The two enumerators of the connection-point protocol: over the one
// connection point of the container, and over a snapshot of the connections.
// Each owns its snapshot (shared with its clones) and the references in it.
#include <windows.h>
#include <ocidl.h>

#include <vector>

namespace tarn {

// Both take an `out` that the interface member calling them has checked and cleared.
HRESULT CreateConnectionPointEnumerator(IConnectionPoint* point, IEnumConnectionPoints** out) noexcept;

// Takes over the references in `connections`, also when it fails.
HRESULT CreateConnectionsEnumerator(std::vector<CONNECTDATA>&& connections, IEnumConnections** out) noexcept;

}  // namespace tarn
