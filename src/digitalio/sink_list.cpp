#include "digitalio/sink_list.h"

#include <algorithm>
#include <cstdint>
#include <new>

namespace tarn {

SinkList::~SinkList() {
    IDispatch** slots = Slots();
    for (size_t i = 0, n = count_; i < n; ++i)
        if (slots[i]) std::exchange(slots[i], nullptr)->Release();
}

DWORD SinkList::CookieOf(IDispatch* sink) noexcept {
    // Pointers are 32 bits wide on this platform: the value itself is the cookie.
    return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(sink));
}

bool SinkList::Add(IDispatch* sink) noexcept {
    Lock lock(lock_);
    const size_t count = count_;
    if (count == 0) {
        single_ = sink;
        count_ = 1;
        return true;
    }
    if (count == 1) {
        std::unique_ptr<IDispatch*[]> slots(new (std::nothrow) IDispatch*[4]());
        if (!slots) return false;
        slots[0] = std::exchange(single_, nullptr);
        array_ = std::move(slots);
        count_ = 4;
    }
    for (size_t i = 0; i < count_; ++i) {
        if (!array_[i]) {
            array_[i] = sink;
            return true;
        }
    }
    const size_t doubled = count_ * 2;
    std::unique_ptr<IDispatch*[]> slots(new (std::nothrow) IDispatch*[doubled]());
    if (!slots) return false;
    const size_t first_new = count_;
    std::copy(array_.get(), array_.get() + first_new, slots.get());
    slots[first_new] = sink;
    array_ = std::move(slots);
    count_ = doubled;
    return true;
}

ComPtr<IDispatch> SinkList::Remove(DWORD cookie) noexcept {
    if (cookie == 0) return {};
    Lock lock(lock_);
    const size_t count = count_;
    IDispatch** slots = Slots();
    for (size_t i = 0; i < count; ++i) {
        if (slots[i] && CookieOf(slots[i]) == cookie) {
            IDispatch* removed = std::exchange(slots[i], nullptr);
            if (count == 1) count_ = 0;  // the single sink is gone: the list is empty again
            return ComPtr<IDispatch>::Attach(removed);
        }
    }
    return {};
}

std::vector<CONNECTDATA> SinkList::Snapshot() const {
    Lock lock(lock_);
    std::vector<CONNECTDATA> connections;
    IDispatch* const* slots = Slots();
    const size_t count = count_;
    connections.reserve(count);  // the only allocation: it throws before any reference is taken
    for (size_t i = 0; i < count; ++i) {
        if (!slots[i]) continue;
        slots[i]->AddRef();
        connections.push_back({slots[i], CookieOf(slots[i])});
    }
    return connections;
}

ComPtr<IDispatch> SinkList::SinkAt(size_t index) const noexcept {
    Lock lock(lock_);
    if (index >= count_) return {};
    return ComPtr<IDispatch>(Slots()[index]);
}

template <class PrepareArgument>
bool SinkList::Fire(DISPID id, PrepareArgument&& prepare, const bool* ownerGone) noexcept {
    VARIANT argument, result;
    ::VariantInit(&argument);
    ::VariantInit(&result);
    bool ownerAlive = true;
    const size_t count = count_;  // sinks added beyond this count wait for the next event
    for (size_t i = 0; i < count; ++i) {
        ComPtr<IDispatch> sink = SinkAt(i);
        if (!sink) continue;
        ::VariantClear(&result);
        prepare(argument);
        DISPPARAMS params{&argument, nullptr, 1, 0};
        // A failing sink neither stops the others nor is disconnected.
        sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
        sink.reset();
        if (ownerGone && *ownerGone) {
            ownerAlive = false;  // this list is freed memory now
            break;
        }
    }
    ::VariantClear(&argument);
    ::VariantClear(&result);
    return ownerAlive;
}

void SinkList::FireText(DISPID id, const wchar_t* text) noexcept {
    Fire(
        id,
        [text](VARIANT& argument) {
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

bool SinkList::FireLevel(DISPID id, long level, const bool* ownerGone) noexcept {
    return Fire(
        id,
        [level](VARIANT& argument) {
            ::VariantClear(&argument);
            argument.vt = VT_I4;
            argument.lVal = level;
        },
        ownerGone);
}

}  // namespace tarn
