#pragma once
// SinkList: the connected event sinks of one driver object, and the firing of
// an event to all of them.
//
// Slots: none while empty, one sink held alone after the first connection, an
// array of 4 (doubled when full, never shrunk or compacted) once a second sink
// connects.  A new sink takes the lowest empty slot.  The cookie of a
// connection is the held pointer's value, so the same sink connected twice has
// two slots with one cookie, and a removal empties the first matching slot.
//
// The owner's object lock guards the slots.  A firing holds it only while it
// takes one slot's sink, never while a sink runs.
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <atomic>
#include <memory>
#include <vector>

#include "platform/com_ptr.h"
#include "platform/critical_section.h"

namespace tarn {

// DISPIDs of _IRs232DigitalIoDriverEvents.
enum EventId : DISPID { kOnText = 1, kOnDSR = 2, kOnCTS = 3, kOnDCD = 4, kOnRI = 5 };

class SinkList {
public:
    explicit SinkList(CriticalSection& objectLock) noexcept : lock_(objectLock) {}
    ~SinkList();  // releases every sink still connected
    SinkList(const SinkList&) = delete;
    SinkList& operator=(const SinkList&) = delete;

    CriticalSection& ObjectLock() const noexcept { return lock_; }
    static DWORD CookieOf(IDispatch* sink) noexcept;

    // Takes over the caller's reference on success; false when the list cannot grow.
    bool Add(IDispatch* sink) noexcept;
    // The reference the emptied slot held, or null when no slot holds `cookie`.
    ComPtr<IDispatch> Remove(DWORD cookie) noexcept;
    // Every occupied slot in slot order, each with a reference of its own.
    std::vector<CONNECTDATA> Snapshot() const;  // may throw std::bad_alloc

    // Call the event `id` on every sink in slot order with one argument.
    // `ownerGone`, when given, is set by the owner's destructor if a sink
    // destroys the owner from inside the call; the firing then stops at once
    // and returns false without touching the list again.
    void FireText(DISPID id, const wchar_t* text) noexcept;
    bool FireLevel(DISPID id, long level, const bool* ownerGone) noexcept;

private:
    template <class PrepareArgument>
    bool Fire(DISPID id, PrepareArgument&& prepare, const bool* ownerGone) noexcept;
    ComPtr<IDispatch> SinkAt(size_t index) const noexcept;
    IDispatch** Slots() noexcept { return count_ == 1 ? &single_ : array_.get(); }
    IDispatch* const* Slots() const noexcept { return count_ == 1 ? &single_ : array_.get(); }

    CriticalSection& lock_;
    std::atomic<size_t> count_{0};  // read once per firing without the lock
    IDispatch* single_ = nullptr;
    std::unique_ptr<IDispatch*[]> array_;
};

}  // namespace tarn
