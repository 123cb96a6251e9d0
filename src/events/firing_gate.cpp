#include "events/firing_gate.h"

#include <new>

namespace tarn {

FiringGate* FiringGate::Create() noexcept { return new (std::nothrow) FiringGate(); }

ULONG FiringGate::AddRef() noexcept { return ++refs_; }

ULONG FiringGate::Release() noexcept {
    const ULONG remaining = --refs_;
    if (remaining == 0) delete this;
    return remaining;
}

bool FiringGate::EnterCall() noexcept {
    unsigned state = state_.load();
    do {
        if (state & kClosed) return false;
    } while (!state_.compare_exchange_weak(state, state | kInCall));
    return true;
}

bool FiringGate::LeaveCall() noexcept { return !(state_.fetch_and(~kInCall) & kClosed); }

bool FiringGate::Close() noexcept { return (state_.fetch_or(kClosed) & kInCall) != 0; }

}  // namespace tarn
