// The event source as a client sees it without a port: the connection-point
// protocol, the sink list's slots and cookies, GetGUID, and the life of sinks.
#include <olectl.h>

#include "common/com_test_support.h"
#include "digitalio/event_sink.h"

namespace tarn::test {
namespace {

// In the multithreaded apartment the client holds the object itself, not a
// proxy, so reference counts can be compared exactly.
class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        driver = CreateDriver();
        ASSERT_TRUE(driver);
        point = EventsPoint(driver.get());
        ASSERT_TRUE(point);
    }
    void TearDown() override {
        point.reset();
        driver.reset();
        ::CoUninitialize();
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
    // The pointer the list holds answers the event interface; the cookie is that pointer.
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

}  // namespace
}  // namespace tarn::test
