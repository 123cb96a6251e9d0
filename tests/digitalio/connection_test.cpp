// The event source as a client sees it without a port: the connection-point
// protocol, the sink list's slots and cookies, GetGUID, and the life of sinks.
#include <olectl.h>

#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#include "automation/unique_bstr.h"
#include "common/com_test_support.h"
#include "digitalio/event_sink.h"

namespace tarn::test {
namespace {

// In the multithreaded apartment the client holds the object itself, not a
// proxy, so reference counts can be compared exactly.
class ConnectionTest : public MtaTest {
protected:
    void SetUp() override {
        MtaTest::SetUp();
        if (HasFatalFailure()) return;
        driver = CreateDriver();
        ASSERT_TRUE(driver);
        point = EventsPoint(driver.get());
        ASSERT_TRUE(point);
    }
    void TearDown() override {
        point.reset();
        driver.reset();
        MtaTest::TearDown();
    }
    std::vector<CONNECTDATA> Connections() {
        std::vector<CONNECTDATA> all;
        ComPtr<IEnumConnections> connections;
        EXPECT_EQ(S_OK, point->EnumConnections(connections.put()));
        CONNECTDATA data;
        ULONG fetched = 0;
        while (connections && connections->Next(1, &data, &fetched) == S_OK) {
            all.push_back(data);
            data.pUnk->Release();  // the identity stays comparable: the list still holds it
        }
        return all;
    }
    ComPtr<IRs232DigitalIoDriver> driver;
    ComPtr<IConnectionPoint> point;
};

TEST_F(ConnectionTest, ClassInfoNamesTheEventInterfaceAsDefaultSource) {
    ComPtr<IProvideClassInfo2> info;
    ASSERT_HRESULT_SUCCEEDED(driver->QueryInterface(IID_IProvideClassInfo2, info.put_void()));
    GUID guid = GUID_NULL;
    EXPECT_EQ(S_OK, info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid));
    EXPECT_TRUE(guid == DIID__IRs232DigitalIoDriverEvents);
    guid = IID_IUnknown;
    EXPECT_EQ(E_FAIL, info->GetGUID(2, &guid));
    EXPECT_TRUE(guid == GUID_NULL);
    EXPECT_EQ(E_POINTER, info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, nullptr));
}

TEST_F(ConnectionTest, ContainerFindsOnlyTheEventInterface) {
    ComPtr<IConnectionPointContainer> container;
    ASSERT_HRESULT_SUCCEEDED(driver->QueryInterface(IID_IConnectionPointContainer, container.put_void()));
    ComPtr<IConnectionPoint> other;
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IPropertyNotifySink, other.put()));
    EXPECT_FALSE(other);
    EXPECT_EQ(E_POINTER, container->FindConnectionPoint(DIID__IRs232DigitalIoDriverEvents, nullptr));

    IID iid = GUID_NULL;
    EXPECT_EQ(S_OK, point->GetConnectionInterface(&iid));
    EXPECT_TRUE(iid == DIID__IRs232DigitalIoDriverEvents);
    EXPECT_EQ(E_POINTER, point->GetConnectionInterface(nullptr));

    ComPtr<IConnectionPointContainer> back;
    ASSERT_EQ(S_OK, point->GetConnectionPointContainer(back.put()));
    ComPtr<IUnknown> a, b;
    back->QueryInterface(IID_IUnknown, a.put_void());
    driver->QueryInterface(IID_IUnknown, b.put_void());
    EXPECT_EQ(a.get(), b.get());
}

TEST_F(ConnectionTest, ConnectionPointAnswersOnlyItsOwnInterfaces) {
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(E_NOINTERFACE, point->QueryInterface(IID_IDispatch, dispatch.put_void()));
    ComPtr<IConnectionPointContainer> container;
    EXPECT_EQ(E_NOINTERFACE, point->QueryInterface(IID_IConnectionPointContainer, container.put_void()));
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(S_OK, point->QueryInterface(IID_IUnknown, unknown.put_void()));
}

TEST_F(ConnectionTest, EnumeratesExactlyOneConnectionPoint) {
    ComPtr<IConnectionPointContainer> container;
    ASSERT_HRESULT_SUCCEEDED(driver->QueryInterface(IID_IConnectionPointContainer, container.put_void()));
    EXPECT_EQ(E_POINTER, container->EnumConnectionPoints(nullptr));
    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(S_OK, container->EnumConnectionPoints(points.put()));
    IConnectionPoint* got[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, points->Next(2, got, &fetched));
    ASSERT_EQ(1u, fetched);
    IID iid = GUID_NULL;
    got[0]->GetConnectionInterface(&iid);
    EXPECT_TRUE(iid == DIID__IRs232DigitalIoDriverEvents);
    got[0]->Release();

    ComPtr<IEnumConnectionPoints> clone;
    ASSERT_EQ(S_OK, points->Clone(clone.put()));
    EXPECT_EQ(S_FALSE, clone->Next(1, got, nullptr));  // the clone starts where its original stands
    EXPECT_EQ(S_OK, clone->Reset());
    EXPECT_EQ(S_OK, clone->Next(1, got, nullptr));
    got[0]->Release();
    EXPECT_EQ(S_FALSE, clone->Skip(1));
}

TEST_F(ConnectionTest, AdviseChecksItsArgumentsAndTheSink) {
    ComPtr<EventSink> sink = EventSink::Create();
    DWORD cookie = 77;
    EXPECT_EQ(E_POINTER, point->Advise(nullptr, &cookie));
    EXPECT_EQ(77u, cookie);
    EXPECT_EQ(E_POINTER, point->Advise(sink.get(), nullptr));

    ComPtr<EventSink> deaf = EventSink::Create();
    deaf->RefuseEvents();
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(deaf.get(), &cookie));
    EXPECT_EQ(0u, cookie);
    EXPECT_TRUE(Connections().empty());
}

TEST_F(ConnectionTest, UnadviseRefusesUnknownCookies) {
    ComPtr<EventSink> sink = EventSink::Create();
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(0));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(0x1234));
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(sink.get(), &cookie));
    EXPECT_NE(0u, cookie);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(0));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(cookie + 4));
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(cookie));
}

TEST_F(ConnectionTest, SlotsKeepConnectionOrderAndReuseTheLowestEmptySlot) {
    ComPtr<EventSink> s1 = EventSink::Create(), s2 = EventSink::Create(), s3 = EventSink::Create(),
                      s4 = EventSink::Create(), s5 = EventSink::Create(), s6 = EventSink::Create();
    DWORD c1 = 0, c2 = 0, c3 = 0, c4 = 0, c5 = 0, c6 = 0;
    ASSERT_EQ(S_OK, point->Advise(s1.get(), &c1));
    ASSERT_EQ(S_OK, point->Advise(s2.get(), &c2));
    ASSERT_EQ(S_OK, point->Advise(s3.get(), &c3));
    ASSERT_EQ(S_OK, point->Unadvise(c2));
    ASSERT_EQ(S_OK, point->Advise(s4.get(), &c4));
    std::vector<CONNECTDATA> all = Connections();
    ASSERT_EQ(3u, all.size());
    EXPECT_EQ(c1, all[0].dwCookie);
    EXPECT_EQ(c4, all[1].dwCookie);  // S4 took S2's slot
    EXPECT_EQ(c3, all[2].dwCookie);
    // Past the fourth slot the array doubles; order still follows the slots.
    ASSERT_EQ(S_OK, point->Advise(s5.get(), &c5));
    ASSERT_EQ(S_OK, point->Advise(s6.get(), &c6));
    all = Connections();
    ASSERT_EQ(5u, all.size());
    EXPECT_EQ(c5, all[3].dwCookie);
    EXPECT_EQ(c6, all[4].dwCookie);
    // The pointer the list holds answers the event interface.
    ComPtr<IUnknown> held;
    ASSERT_HRESULT_SUCCEEDED(all[0].pUnk->QueryInterface(IID_IUnknown, held.put_void()));
    ComPtr<IUnknown> s1Identity;
    s1->QueryInterface(IID_IUnknown, s1Identity.put_void());
    EXPECT_EQ(s1Identity.get(), held.get());
}

TEST_F(ConnectionTest, TheSameSinkTwiceHasOneCookieAndTwoSlots) {
    ComPtr<EventSink> sink = EventSink::Create();
    DWORD first = 0, second = 0;
    ASSERT_EQ(S_OK, point->Advise(sink.get(), &first));
    ASSERT_EQ(S_OK, point->Advise(sink.get(), &second));
    EXPECT_EQ(first, second);
    EXPECT_EQ(2u, Connections().size());
    EXPECT_EQ(S_OK, point->Unadvise(first));
    EXPECT_EQ(1u, Connections().size());
    EXPECT_EQ(S_OK, point->Unadvise(first));
    EXPECT_TRUE(Connections().empty());
}

TEST_F(ConnectionTest, EnumConnectionsIsASnapshotThatOwnsItsReferences) {
    ComPtr<EventSink> s1 = EventSink::Create(), s2 = EventSink::Create();
    DWORD c1 = 0, c2 = 0;
    ASSERT_EQ(S_OK, point->Advise(s1.get(), &c1));
    ASSERT_EQ(S_OK, point->Advise(s2.get(), &c2));
    EXPECT_EQ(E_POINTER, point->EnumConnections(nullptr));
    ComPtr<IEnumConnections> snapshot;
    ASSERT_EQ(S_OK, point->EnumConnections(snapshot.put()));
    ASSERT_EQ(S_OK, point->Unadvise(c1));
    ASSERT_EQ(S_OK, point->Unadvise(c2));

    CONNECTDATA data[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, snapshot->Next(3, data, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_EQ(c1, data[0].dwCookie);
    EXPECT_EQ(c2, data[1].dwCookie);
    data[0].pUnk->Release();
    data[1].pUnk->Release();

    const LONG before = s1->RefCount();
    snapshot.reset();
    EXPECT_EQ(before - 1, s1->RefCount());  // the snapshot let go of its reference
}

TEST_F(ConnectionTest, DestructionReleasesConnectedSinks) {
    ComPtr<EventSink> sink = EventSink::Create();
    const LONG alone = sink->RefCount();
    ASSERT_NE(0u, Connect(driver.get(), sink.get()));
    ASSERT_NE(0u, Connect(driver.get(), sink.get()));
    EXPECT_GT(sink->RefCount(), alone);
    point.reset();
    driver.reset();
    EXPECT_EQ(alone, sink->RefCount());
}

TEST_F(ConnectionTest, HoldingTheConnectionPointKeepsTheObjectAlive) {
    ComPtr<EventSink> sink = EventSink::Create();
    const LONG alone = sink->RefCount();
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(sink.get(), &cookie));
    driver.reset();
    // The object still exists: its list still holds the sink, and the point still works.
    EXPECT_GT(sink->RefCount(), alone);
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
    point.reset();
    EXPECT_EQ(alone, sink->RefCount());
}

// A sink that lives in memory the test places (so its address is the held
// pointer) and counts the OnText events it receives.
class PlacedSink final : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != DIID__IRs232DigitalIoDriverEvents)
            return E_NOINTERFACE;
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ::InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override { return ::InterlockedDecrement(&refs_); }  // the test frees the memory
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        if (n) *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        if (id == kOnText) ::InterlockedIncrement(&texts_);
        return S_OK;
    }
    LONG Texts() const { return texts_; }

private:
    LONG refs_ = 1;
    LONG texts_ = 0;
};

struct FreePlacedSink {
    void operator()(PlacedSink* sink) const noexcept {
        sink->~PlacedSink();
        ::VirtualFree(sink, 0, MEM_RELEASE);
    }
};
using PlacedSinkPtr = std::unique_ptr<PlacedSink, FreePlacedSink>;

// A sink at `address` (anywhere when 0); null when that address is taken.
PlacedSinkPtr PlaceSink(std::uintptr_t address) {
    void* memory = ::VirtualAlloc(reinterpret_cast<void*>(address), sizeof(PlacedSink), MEM_RESERVE | MEM_COMMIT,
                                  PAGE_READWRITE);
    return PlacedSinkPtr(memory ? new (memory) PlacedSink : nullptr);
}

// With 64-bit pointers: one sink per low half, each above 4 GiB in the first
// free 4-GiB stretch after the previous one's.  With 32-bit pointers: anywhere.
std::vector<PlacedSinkPtr> PlaceSinks(std::initializer_list<std::uint32_t> lowHalves) {
    std::vector<PlacedSinkPtr> sinks;
    std::uint64_t high = 1;
    for (const std::uint32_t low : lowHalves) {
        PlacedSinkPtr sink;
        if constexpr (sizeof(void*) == 8) {
            for (; !sink && high < 0x100; ++high) sink = PlaceSink(static_cast<std::uintptr_t>(high << 32 | low));
        } else {
            sink = PlaceSink(0);
        }
        sinks.push_back(std::move(sink));
    }
    return sinks;
}

class PlacedSinkTest : public ConnectionTest {
protected:
    using Connection = std::pair<const void*, DWORD>;  // held pointer, cookie
    std::vector<Connection> Held() {
        std::vector<Connection> held;
        for (const CONNECTDATA& c : Connections()) held.emplace_back(c.pUnk, c.dwCookie);
        return held;
    }
    // Open fires OnText; a name that is not a device opens as a plain file.
    void FireOnText() {
        wchar_t folder[MAX_PATH], file[MAX_PATH];
        ::GetTempPathW(MAX_PATH, folder);
        ASSERT_NE(0u, ::GetTempFileNameW(folder, L"trn", 0, file));
        VARIANT_BOOL opened = 0;
        EXPECT_EQ(S_OK, driver->Open(UniqueBstr(::SysAllocString(file)).get(), &opened));
        EXPECT_EQ(S_OK, driver->Close());
        ::DeleteFileW(file);
    }
    std::vector<PlacedSinkPtr> sinks;  // a member: freed only after TearDown has let the object go
};

// Cut to 32 bits, the pointers of sinks 4 GiB apart are equal and a pointer
// whose low half is 0 is 0: every live connection still needs a cookie of its
// own, shared only by the same sink connected twice.
TEST_F(PlacedSinkTest, EverySinkHasACookieOfItsOwnWhereverItLives) {
    sinks = PlaceSinks({0x0ABC0000, 0x0ABC0000, 0});
    for (const PlacedSinkPtr& sink : sinks) ASSERT_TRUE(sink) << "no free address for a sink";
    PlacedSink *const a = sinks[0].get(), *const b = sinks[1].get(), *const z = sinks[2].get();
    const auto low = [](const void* p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); };
    if constexpr (sizeof(void*) == 8) {
        ASSERT_EQ(low(a), low(b));
        ASSERT_EQ(0u, low(z));
    }

    PlacedSink* const order[] = {a, b, z, a};
    DWORD cookies[4] = {};
    for (int i = 0; i < 4; ++i) ASSERT_EQ(S_OK, point->Advise(order[i], &cookies[i]));
    const DWORD ca = cookies[0], cb = cookies[1], cz = cookies[2];
    EXPECT_EQ(ca, cookies[3]) << "the same sink twice has one cookie";
    for (const DWORD cookie : {ca, cb, cz}) EXPECT_NE(0u, cookie);
    EXPECT_NE(ca, cb);
    EXPECT_NE(ca, cz);
    EXPECT_NE(cb, cz);
    if constexpr (sizeof(void*) == 4) {
        for (int i = 0; i < 4; ++i) EXPECT_EQ(low(order[i]), cookies[i]) << "the cookie is the held pointer";
    }
    EXPECT_EQ(Held(), (std::vector<Connection>{{a, ca}, {b, cb}, {z, cz}, {a, ca}}));

    ASSERT_EQ(S_OK, point->Unadvise(cb));
    EXPECT_EQ(Held(), (std::vector<Connection>{{a, ca}, {z, cz}, {a, ca}}));
    FireOnText();
    EXPECT_EQ(2, a->Texts());
    EXPECT_EQ(0, b->Texts());
    EXPECT_EQ(1, z->Texts());

    ASSERT_EQ(S_OK, point->Unadvise(ca));  // the first of a's two slots
    ASSERT_EQ(S_OK, point->Unadvise(cz));
    DWORD again = 0;
    ASSERT_EQ(S_OK, point->Advise(b, &again));
    EXPECT_NE(0u, again);
    EXPECT_EQ(Held(), (std::vector<Connection>{{b, again}, {a, ca}})) << "b takes the lowest empty slot";
}

}  // namespace
}  // namespace tarn::test
