#pragma once
// FiringGate: what the input monitor and its owner tell each other about the
// monitor's calls into sinks.
//
// A sink call lasts as long as its client likes: it may be marshalled into a
// single-threaded apartment whose thread is the one releasing the owner, or
// the sink may release the owner itself.  So the owner never waits for a sink
// call: when it goes it closes the gate, and the monitor, back from its call,
// finds the gate closed and ends without touching the owner again.  Both hold
// a reference, so the gate outlives whichever of them goes first.
#include <windows.h>

#include <atomic>

namespace tarn {

class FiringGate {
public:
    // With one reference for the caller; null when out of memory.
    static FiringGate* Create() noexcept;
    FiringGate(const FiringGate&) = delete;
    FiringGate& operator=(const FiringGate&) = delete;

    ULONG AddRef() noexcept;
    ULONG Release() noexcept;

    // Before a sink call: false once the gate is closed (call nothing more).
    bool EnterCall() noexcept;
    // After it: false when the gate was closed meanwhile (the owner may be gone).
    bool LeaveCall() noexcept;
    // The owner is going: no sink call starts from now on.  True when one is
    // running; the owner must not wait for the monitor then.
    bool Close() noexcept;

private:
    FiringGate() noexcept = default;
    ~FiringGate() = default;

    static constexpr unsigned kInCall = 1, kClosed = 2;
    std::atomic<unsigned> state_{0};
    std::atomic<ULONG> refs_{1};
};

}  // namespace tarn
