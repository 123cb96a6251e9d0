#include "events/connection_enumerators.h"

#include <memory>
#include <new>

#include "com/com_object.h"
#include "platform/com_ptr.h"
#include "platform/critical_section.h"

namespace tarn {

namespace {

// Item kinds: how an entry is handed out (with a reference for the caller).
struct PointItem {
    using Value = IConnectionPoint*;
    ComPtr<IConnectionPoint> point;
    Value HandOut() const noexcept {
        point->AddRef();
        return point.get();
    }
};

struct ConnectionItem {
    using Value = CONNECTDATA;
    ComPtr<IUnknown> sink;
    DWORD cookie = 0;
    Value HandOut() const noexcept {
        sink->AddRef();
        return {sink.get(), cookie};
    }
};

template <class EnumItf, class Item>
class SnapshotEnumerator : public EnumItf {
public:
    using Interfaces = InterfaceTable<Entry<EnumItf>>;
    static constexpr bool kAtomicRefCount = true;
    using Snapshot = std::shared_ptr<const std::vector<Item>>;

    static HRESULT Create(Snapshot items, size_t position, EnumItf** out) noexcept {
        auto* enumerator = new (std::nothrow) ComObject<SnapshotEnumerator>();
        if (!enumerator) return E_OUTOFMEMORY;
        enumerator->items_ = std::move(items);  // not shared yet: no lock needed
        enumerator->position_ = position;
        enumerator->AddRef();
        *out = enumerator;
        return S_OK;
    }

    STDMETHODIMP Next(ULONG wanted, typename Item::Value* out, ULONG* fetched) override {
        if (!out || (wanted != 1 && !fetched)) return E_POINTER;
        ULONG given = 0;
        Lock lock(lock_);
        for (; given < wanted && position_ < items_->size(); ++given, ++position_)
            out[given] = (*items_)[position_].HandOut();
        if (fetched) *fetched = given;
        return given == wanted ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        Lock lock(lock_);
        const size_t left = items_->size() - position_;
        if (count > left) {
            position_ = items_->size();
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    }
    STDMETHODIMP Reset() override {
        Lock lock(lock_);
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(EnumItf** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        Lock lock(lock_);
        return Create(items_, position_, out);
    }

private:
    // The object is free-threaded: any thread may move the position, so it moves under the lock.
    CriticalSection lock_;
    Snapshot items_;
    size_t position_ = 0;
};

template <class EnumItf, class Item>
HRESULT CreateEnumerator(std::vector<Item>&& items, EnumItf** out) noexcept {
    // `out` is the caller's, checked and cleared by the member that called.
    return NoThrow([&] {
        auto snapshot = std::make_shared<const std::vector<Item>>(std::move(items));
        return SnapshotEnumerator<EnumItf, Item>::Create(std::move(snapshot), 0, out);
    });
}

}  // namespace

HRESULT CreateConnectionPointEnumerator(IConnectionPoint* point, IEnumConnectionPoints** out) noexcept {
    return NoThrow([&] {
        std::vector<PointItem> items{PointItem{ComPtr<IConnectionPoint>(point)}};
        return CreateEnumerator(std::move(items), out);
    });
}

HRESULT CreateConnectionsEnumerator(std::vector<CONNECTDATA>&& connections, IEnumConnections** out) noexcept {
    std::vector<ConnectionItem> items;
    try {
        items.reserve(connections.size());
    } catch (const std::bad_alloc&) {
        for (CONNECTDATA& c : connections) c.pUnk->Release();
        return E_OUTOFMEMORY;
    }
    for (CONNECTDATA& c : connections) items.push_back({ComPtr<IUnknown>::Attach(c.pUnk), c.dwCookie});
    connections.clear();
    return CreateEnumerator(std::move(items), out);
}

}  // namespace tarn
