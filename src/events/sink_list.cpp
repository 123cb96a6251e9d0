#include "events/sink_list.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <stdio.h>

#include "platform/trace.h"

namespace tarn {

SinkList::~SinkList() {
    Slot* slots = Slots();
    for (size_t i = 0, n = count_; i < n; ++i)
        if (slots[i].sink) std::exchange(slots[i].sink, nullptr)->Release();
}

template <class Matches>
SinkList::Slot* SinkList::FirstOccupied(Matches matches) noexcept {
    Slot* slots = Slots();
    for (size_t i = 0, n = count_; i < n; ++i)
        if (slots[i].sink && matches(slots[i])) return &slots[i];
    return nullptr;
}

DWORD SinkList::CookieFor(IDispatch* sink) noexcept {
    if (const Slot* same = FirstOccupied([sink](const Slot& slot) { return slot.sink == sink; }))
        return same->cookie;
    if constexpr (sizeof(sink) <= sizeof(DWORD)) {
        return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(sink));
    } else {
        // Cut to 32 bits, two pointers could share a cookie, or a pointer could give 0.
        auto inUse = [this](DWORD cookie) {
            return FirstOccupied([cookie](const Slot& slot) { return slot.cookie == cookie; }) != nullptr;
        };
        do ++lastCookie_;
        while (lastCookie_ == 0 || inUse(lastCookie_));
        return lastCookie_;
    }
}

// The lowest empty slot, after growing the list if it has none; null when it cannot grow.
SinkList::Slot* SinkList::EmptySlot() noexcept {
    const size_t count = count_;
    if (count == 0) {
        count_ = 1;
        return &single_;
    }
    if (count == 1) {
        std::unique_ptr<Slot[]> slots(new (std::nothrow) Slot[4]());
        if (!slots) return nullptr;
        slots[0] = std::exchange(single_, Slot{});
        array_ = std::move(slots);
        count_ = 4;
    }
    for (size_t i = 0; i < count_; ++i)
        if (!array_[i].sink) return &array_[i];
    const size_t doubled = count_ * 2;
    std::unique_ptr<Slot[]> slots(new (std::nothrow) Slot[doubled]());
    if (!slots) return nullptr;
    const size_t firstNew = count_;
    std::copy(array_.get(), array_.get() + firstNew, slots.get());
    array_ = std::move(slots);
    count_ = doubled;
    return &array_[firstNew];
}

DWORD SinkList::Add(IDispatch* sink) noexcept {
    Lock lock(lock_);
    const DWORD cookie = CookieFor(sink);
    Slot* slot = EmptySlot();
    if (!slot) return 0;
    *slot = {sink, cookie};
    return cookie;
}

ComPtr<IDispatch> SinkList::Remove(DWORD cookie) noexcept {
    if (cookie == 0) return {};
    Lock lock(lock_);
    Slot* slot = FirstOccupied([cookie](const Slot& s) { return s.cookie == cookie; });
    if (!slot) return {};
    IDispatch* removed = std::exchange(*slot, Slot{}).sink;
    if (count_ == 1) count_ = 0;  // the single sink is gone: the list is empty again
    return ComPtr<IDispatch>::Attach(removed);
}

size_t SinkList::ConnectionCount() const noexcept {
    Lock lock(lock_);
    const Slot* slots = Slots();
    size_t connected = 0;
    for (size_t i = 0, n = count_; i < n; ++i)
        if (slots[i].sink) ++connected;
    return connected;
}

std::vector<CONNECTDATA> SinkList::Snapshot() const {
    Lock lock(lock_);
    std::vector<CONNECTDATA> connections;
    const Slot* slots = Slots();
    const size_t count = count_;
    connections.reserve(count);  // the only allocation: it throws before any reference is taken
    for (size_t i = 0; i < count; ++i) {
        if (!slots[i].sink) continue;
        slots[i].sink->AddRef();
        connections.push_back({slots[i].sink, slots[i].cookie});
    }
    return connections;
}

ComPtr<IDispatch> SinkList::SinkAt(size_t index) const noexcept {
    Lock lock(lock_);
    if (index >= count_) return {};
    return ComPtr<IDispatch>(Slots()[index].sink);
}

namespace {

// "event 3: sink 1 of 2 -> 0x00000000 in 0.120 ms", or the summary with sink 0.
void TraceEvent(DISPID id, size_t sink, size_t sinks, HRESULT hr, LONGLONG startedTicks) noexcept {
    LARGE_INTEGER now{}, frequency{};
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    const double milliseconds =
        frequency.QuadPart > 0 ? static_cast<double>(now.QuadPart - startedTicks) * 1000.0 / frequency.QuadPart : 0.0;
    char line[128];
    const int length =
        sink == 0 ? snprintf(line, sizeof line, "event %ld fired to %llu sinks in %.3f ms", static_cast<long>(id),
                              static_cast<unsigned long long>(sinks), milliseconds)
                  : snprintf(line, sizeof line, "event %ld: sink %llu of %llu -> 0x%08lX in %.3f ms",
                              static_cast<long>(id), static_cast<unsigned long long>(sink),
                              static_cast<unsigned long long>(sinks), static_cast<unsigned long>(hr), milliseconds);
    WriteTraceLine(line, FormattedLength(length, sizeof line));
}

LONGLONG TicksIfTracing() noexcept {
    LARGE_INTEGER now{};
    if (TraceWants(TraceLevel::Failures)) ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

}  // namespace

template <class PrepareArguments>
bool SinkList::FireEach(DISPID id, UINT count, PrepareArguments&& prepare, FiringGate* gate) noexcept {
    VARIANT arguments[kMaxArguments], result;
    for (VARIANT& argument : arguments) ::VariantInit(&argument);
    ::VariantInit(&result);
    bool ownerAlive = true;
    const size_t sinkCount = count_;  // sinks added beyond this count wait for the next event
    const LONGLONG fired = TicksIfTracing();
    size_t called = 0;
    for (size_t i = 0; i < sinkCount; ++i) {
        ComPtr<IDispatch> sink = SinkAt(i);
        if (!sink) continue;
        if (gate && !gate->EnterCall()) {
            ownerAlive = false;  // the owner is going: call no one else
            break;
        }
        ::VariantClear(&result);
        prepare(arguments);
        DISPPARAMS params{arguments, nullptr, count, 0};
        // A failing sink neither stops the others nor is disconnected.
        const LONGLONG started = TicksIfTracing();
        const HRESULT hr =
            sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
        sink.reset();  // part of the call: releasing a proxy may reach the sink's apartment too
        ++called;
        if (TraceWants(FAILED(hr) ? TraceLevel::Failures : TraceLevel::Calls))
            TraceEvent(id, called, sinkCount, hr, started);
        if (gate && !gate->LeaveCall()) {
            ownerAlive = false;  // this list may be freed memory now
            break;
        }
    }
    for (VARIANT& argument : arguments) ::VariantClear(&argument);
    ::VariantClear(&result);
    if (TraceWants(TraceLevel::Calls)) TraceEvent(id, 0, called, S_OK, fired);
    return ownerAlive;
}

void SinkList::FireText(DISPID id, const wchar_t* text) noexcept {
    FireEach(
        id, 1,
        [text](VARIANT* arguments) {
            VARIANT& argument = arguments[0];
            ::VariantClear(&argument);  // each sink gets its own copy
            argument.vt = VT_BSTR;
            argument.bstrVal = ::SysAllocString(text);
            if (!argument.bstrVal) {
                argument.vt = VT_ERROR;
                argument.scode = E_OUTOFMEMORY;
            }
        },
        nullptr);
}

bool SinkList::FireLevel(DISPID id, long level, FiringGate& gate) noexcept {
    return FireEach(
        id, 1,
        [level](VARIANT* arguments) {
            ::VariantClear(&arguments[0]);
            arguments[0].vt = VT_I4;
            arguments[0].lVal = level;
        },
        &gate);
}

HRESULT SinkList::Fire(DISPID id, const VARIANT* argumentsLastFirst, UINT count) noexcept {
    if (count > kMaxArguments || (count > 0 && !argumentsLastFirst)) return E_INVALIDARG;
    FireEach(
        id, count,
        [argumentsLastFirst, count](VARIANT* arguments) {
            for (UINT i = 0; i < count; ++i) {
                ::VariantClear(&arguments[i]);
                if (FAILED(::VariantCopy(&arguments[i], const_cast<VARIANT*>(&argumentsLastFirst[i])))) {
                    arguments[i].vt = VT_ERROR;
                    arguments[i].scode = E_OUTOFMEMORY;
                }
            }
        },
        nullptr);
    return S_OK;
}

}  // namespace tarn
