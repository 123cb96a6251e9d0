#pragma once
// SinkList: the connected event sinks of one object, and the firing of an
// event to all of them.
//
// Slots: none while empty, one sink held alone after the first connection, an
// array of 4 (doubled when full, never shrunk or compacted) once a second sink
// connects.  A new sink takes the lowest empty slot.
//
// Each slot keeps its connection's cookie beside the sink.  The same sink
// (the same held pointer) connected twice has two slots with one cookie, and a
// removal empties the first matching slot.  Where a pointer fits in 32 bits the
// cookie is its value; wider pointers do not fit, so there the list numbers
// its connections, skipping 0 and every cookie still in use.
//
// The owner's object lock guards the slots.  A firing holds it only while it
// takes one slot's sink, never while a sink runs.
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <atomic>
#include <memory>
#include <vector>

#include "events/firing_gate.h"
#include "platform/com_ptr.h"
#include "platform/critical_section.h"

namespace tarn {

class SinkList {
public:
    explicit SinkList(CriticalSection& objectLock) noexcept : lock_(objectLock) {}
    ~SinkList();  // releases every sink still connected
    SinkList(const SinkList&) = delete;
    SinkList& operator=(const SinkList&) = delete;

    CriticalSection& ObjectLock() const noexcept { return lock_; }

    // The new connection's cookie, taking over the caller's reference; 0 when
    // the list cannot grow (the caller keeps its reference then).
    DWORD Add(IDispatch* sink) noexcept;
    // The reference the emptied slot held, or null when no slot holds `cookie`.
    ComPtr<IDispatch> Remove(DWORD cookie) noexcept;
    // How many connections there are.
    size_t ConnectionCount() const noexcept;
    // Every occupied slot in slot order, each with a reference of its own.
    std::vector<CONNECTDATA> Snapshot() const;  // may throw std::bad_alloc

    // Call the event `id` on every sink in slot order with one argument.
    // FireLevel passes each call through `gate`: once the owner has closed it
    // the firing stops and returns false without touching the list again (the
    // owner may be gone by then).
    void FireText(DISPID id, const wchar_t* text) noexcept;
    bool FireLevel(DISPID id, long level, FiringGate& gate) noexcept;
    // The same with up to kMaxArguments arguments, last first as DISPPARAMS
    // hold them; each sink gets copies of its own.  E_INVALIDARG for more.
    static constexpr UINT kMaxArguments = 8;
    HRESULT Fire(DISPID id, const VARIANT* argumentsLastFirst, UINT count) noexcept;

private:
    struct Slot {
        IDispatch* sink = nullptr;  // null: the slot is empty
        DWORD cookie = 0;
    };

    template <class PrepareArguments>
    bool FireEach(DISPID id, UINT count, PrepareArguments&& prepare, FiringGate* gate) noexcept;
    ComPtr<IDispatch> SinkAt(size_t index) const noexcept;
    DWORD CookieFor(IDispatch* sink) noexcept;
    Slot* EmptySlot() noexcept;
    template <class Matches>
    Slot* FirstOccupied(Matches matches) noexcept;
    Slot* Slots() noexcept { return count_ == 1 ? &single_ : array_.get(); }
    const Slot* Slots() const noexcept { return count_ == 1 ? &single_ : array_.get(); }

    CriticalSection& lock_;
    std::atomic<size_t> count_{0};  // read once per firing without the lock
    Slot single_;
    std::unique_ptr<Slot[]> array_;
    DWORD lastCookie_ = 0;  // the numbering of connections where pointers are wider than cookies
};

}  // namespace tarn
