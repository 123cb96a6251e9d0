// The input monitor on the stand-in: events, their order and levels, the
// debounce, parking, Close and Open, unplugging, destruction, and sinks in
// both kinds of apartment.
#include <memory>
#include <thread>

#include "digitalio/port_fixture.h"

namespace tarn::test {
namespace {

class MonitorTest : public PortTest {
protected:
    void SetUp() override {
        PortTest::SetUp();
        sink = EventSink::Create();
        ASSERT_NE(0u, Connect(driver.get(), sink.get()));
    }
    void TearDown() override {
        driver.reset();
        sink.reset();
        PortTest::TearDown();
    }
    // Waits until no event has arrived for `quietMs`, then returns the line events.
    std::vector<Event> Settle(DWORD quietMs = 300) {
        size_t seen = static_cast<size_t>(-1);
        for (int i = 0; i < 40 && seen != sink->Count(); ++i) {
            seen = sink->Count();
            ::Sleep(quietMs);
        }
        std::vector<Event> lines;
        for (const Event& e : sink->Take())
            if (e.id != kOnText) lines.push_back(e);
        return lines;
    }
    ComPtr<EventSink> sink;
};

TEST_F(MonitorTest, NoDebounceFiresTheNewLevelAtOnce) {
    Peer peer(kPeerPort);
    ASSERT_TRUE(Open());
    Settle(100);
    peer.Rts(false);
    ASSERT_TRUE(sink->WaitFor(1, 2000));
    std::vector<Event> events = Settle(100);
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(kOnCTS, events[0].id);
    EXPECT_EQ(0, events[0].level);
    EXPECT_EQ(VT_I4, events[0].type);
    EXPECT_NE(::GetCurrentThreadId(), events[0].thread);  // the monitor thread
    peer.Rts(true);
    ASSERT_TRUE(sink->WaitFor(1, 2000));
    events = Settle(100);
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(1, events[0].level);
}

TEST_F(MonitorTest, SimultaneousChangesFireInTheFixedOrder) {
    Peer peer(kPeerPort);
    peer.Dtr(false);
    peer.Rts(false);
    ASSERT_TRUE(Open());
    Settle(100);
    // The first event holds the monitor inside the sink while all four lines change;
    // the port remembers them, and the next wait ends at once with all four.
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> first{true};
    sink->onEvent = [&](const Event&) {
        if (first.exchange(false)) ::WaitForSingleObject(release, 5000);
    };
    ASSERT_TRUE(control.SetLine(kOurPort, TARN_NULLMODEM_LINE_RI, TARN_NULLMODEM_LINE_FORCED_ON));
    ASSERT_TRUE(sink->WaitFor(1, 2000));
    peer.Rts(true);
    peer.Dtr(true);
    ASSERT_TRUE(control.SetLine(kOurPort, TARN_NULLMODEM_LINE_RI, TARN_NULLMODEM_LINE_FORCED_OFF));
    ::SetEvent(release);
    std::vector<Event> events = Settle(200);
    ::CloseHandle(release);
    ASSERT_EQ(5u, events.size());
    EXPECT_EQ(kOnRI, events[0].id);
    std::vector<DISPID> order;
    for (size_t i = 1; i < events.size(); ++i) order.push_back(events[i].id);
    EXPECT_EQ((std::vector<DISPID>{kOnCTS, kOnDSR, kOnRI, kOnDCD}), order);
    EXPECT_EQ((std::vector<long>{1, 1, 0, 1}),
              (std::vector<long>{events[1].level, events[2].level, events[3].level, events[4].level}));
}

TEST_F(MonitorTest, DebounceDelaysTheReadingAndSwallowsAShortPulse) {
    Peer peer(kPeerPort);
    peer.Dtr(false);
    ASSERT_TRUE(Open());
    ASSERT_EQ(S_OK, driver->put_DebounceTime(100));
    Settle(100);

    const LONGLONG changed = Now();
    peer.Rts(false);
    ASSERT_TRUE(sink->WaitFor(1, 3000));
    std::vector<Event> events = Settle(150);
    ASSERT_EQ(1u, events.size());
    const double delay = TicksToMs(events[0].ticks - changed);
    EXPECT_GE(delay, 90.0);
    EXPECT_LT(delay, 1000.0);
    EXPECT_EQ(0, events[0].level);

    // A DSR pulse of about 20 ms: one event per line, with the level from before.
    ASSERT_EQ(S_OK, driver->put_DebounceTime(300));
    peer.Dtr(true);
    ::Sleep(20);
    peer.Dtr(false);
    events = Settle(400);
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(kOnDSR, events[0].id);
    EXPECT_EQ(0, events[0].level);
    EXPECT_EQ(kOnDCD, events[1].id);
    EXPECT_EQ(0, events[1].level);
}

TEST_F(MonitorTest, NothingFiresWhileNoPortIsOpen) {
    Peer peer(kPeerPort);
    peer.Rts(false);
    peer.Rts(true);
    ASSERT_TRUE(Open());
    EXPECT_EQ(S_OK, driver->Close());
    peer.Rts(false);
    peer.Dtr(false);
    ASSERT_TRUE(control.SetLine(kOurPort, TARN_NULLMODEM_LINE_RI, TARN_NULLMODEM_LINE_FORCED_ON));
    EXPECT_TRUE(Settle(300).empty());
}

TEST_F(MonitorTest, CloseDuringTheDebounceDelayFiresNothing) {
    Peer peer(kPeerPort);
    ASSERT_TRUE(Open());
    ASSERT_EQ(S_OK, driver->put_DebounceTime(300));
    Settle(100);
    peer.Rts(false);
    ::Sleep(50);
    EXPECT_EQ(S_OK, driver->Close());
    EXPECT_TRUE(Settle(500).empty());
}

TEST_F(MonitorTest, OpeningAnotherPortResumesMonitoringThere) {
    ASSERT_TRUE(Open(kOurPort));
    EXPECT_EQ(S_OK, driver->Close());
    ASSERT_TRUE(Open(kOtherPort));
    Settle(100);
    Peer other(kOtherPeer);  // raises DTR and RTS: CTS, DSR and DCD
    std::vector<Event> events = Settle(200);
    ASSERT_EQ(3u, events.size());
    EXPECT_EQ(kOnCTS, events[0].id);
    for (const Event& e : events) EXPECT_EQ(1, e.level);
}

TEST_F(MonitorTest, AnUnpluggedPortCostsNoProcessor) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(control.Plug(kOurPort, false));
    ::Sleep(1500);  // the back-off reaches its ceiling
    const double before = ProcessCpuMs();
    ::Sleep(2000);
    const double used = ProcessCpuMs() - before;
    EXPECT_LT(used, 200.0) << used << " ms of processor in 2 s";
    ASSERT_TRUE(control.Plug(kOurPort, true));
    EXPECT_EQ(S_OK, driver->Close());
    ASSERT_TRUE(Open());  // a fresh handle works again
    Peer peer(kPeerPort);
    EXPECT_TRUE(sink->WaitFor(2, 2000));
}

TEST_F(MonitorTest, AFailingSinkDoesNotStopTheOthersAndSlotOrderHolds) {
    ComPtr<EventSink> s2 = EventSink::Create(), s3 = EventSink::Create(), s4 = EventSink::Create();
    sink->invokeResult = E_FAIL;
    std::vector<int> order;
    CriticalSection orderLock;
    auto record = [&](int n) {
        return [&, n](const Event& e) {
            if (e.id != kOnCTS) return;
            Lock lock(orderLock);
            order.push_back(n);
        };
    };
    sink->onEvent = record(1);
    s2->onEvent = record(2);
    s3->onEvent = record(3);
    s4->onEvent = record(4);
    const DWORD c2 = Connect(driver.get(), s2.get());
    ASSERT_NE(0u, Connect(driver.get(), s3.get()));
    ASSERT_EQ(S_OK, Disconnect(driver.get(), c2));
    ASSERT_NE(0u, Connect(driver.get(), s4.get()));  // takes the slot of s2
    Peer peer(kPeerPort);
    ASSERT_TRUE(Open());
    Settle(100);
    peer.Rts(false);
    ASSERT_TRUE(s3->WaitFor(1, 2000));
    Settle(100);
    Lock lock(orderLock);
    EXPECT_EQ((std::vector<int>{1, 4, 3}), order);
}

TEST_F(MonitorTest, ASinkMayCallBackAndDisconnectInsideAnEvent) {
    Peer peer(kPeerPort);
    ASSERT_TRUE(Open());
    Settle(100);
    IRs232DigitalIoDriver* object = driver.get();
    DWORD cookie = Connect(driver.get(), sink.get());  // a second connection of the same sink
    std::atomic<long> cts{-1};
    std::atomic<HRESULT> unadvised{E_FAIL};
    std::atomic<bool> first{true};
    sink->onEvent = [&](const Event& e) {
        if (e.id != kOnCTS || !first.exchange(false)) return;
        long value = -1;
        object->GetCTS(&value);
        cts = value;
        object->SetDTR(1);
        unadvised = Disconnect(object, cookie);  // the second slot, already read by this firing
    };
    peer.Rts(false);
    ASSERT_TRUE(sink->WaitFor(2, 2000));
    Settle(100);
    EXPECT_EQ(0, cts.load());
    EXPECT_EQ(S_OK, unadvised.load());
    EXPECT_EQ(1u, control.State(kOurPort).dtr);
}

// A client thread in a single-threaded apartment gets the object through a
// proxy; its sink receives OnText and the line events through marshalling, on
// its own thread, and may call back into the object from inside OnText.
class ApartmentMonitorTest : public nulltest::NullModemTest {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        nulltest::NullModemTest::SetUp();
    }
    void TearDown() override { ::CoUninitialize(); }
};

TEST_F(ApartmentMonitorTest, EventsArriveOnTheClientsThread) {
    ComPtr<IRs232DigitalIoDriver> driver = CreateDriver();
    ASSERT_TRUE(driver);
    ComPtr<EventSink> sink = EventSink::Create();
    ASSERT_NE(0u, Connect(driver.get(), sink.get()));
    std::atomic<long> dsrInsideOnText{-1};
    IRs232DigitalIoDriver* object = driver.get();
    sink->onEvent = [&](const Event& e) {
        if (e.id != kOnText) return;
        long value = -1;
        object->GetDSR(&value);  // back into the object while Open has not returned
        dsrInsideOnText = value;
    };
    Peer peer(kPeerPort);
    VARIANT_BOOL ok = 0;
    ASSERT_EQ(S_OK, driver->Open(PortName(kOurPort).get(), &ok));
    ASSERT_TRUE(sink->WaitFor(1, 2000));
    EXPECT_EQ(1, dsrInsideOnText.load());
    peer.Rts(false);
    ASSERT_TRUE(sink->WaitFor(2, 3000));
    Pump(100);
    std::vector<Event> events = sink->Events();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(L"Tach auch", events[0].text);
    EXPECT_EQ(kOnCTS, events[1].id);
    EXPECT_EQ(0, events[1].level);
    for (const Event& e : events) EXPECT_EQ(::GetCurrentThreadId(), e.thread);
    driver.reset();
}

// A sink lets go of the last reference to the object from inside OnCTS.  In
// the multithreaded apartment that runs the destruction on the monitor thread
// itself; in a single-threaded one the monitor is inside the marshalled call
// to the very thread that is releasing.  Either way the release returns at
// once, the object lets go of the sink and the port, and nothing fires after.
struct LastReleaseInsideAnEvent {
    DWORD apartment;
    const char* name;
};

void PrintTo(const LastReleaseInsideAnEvent& c, std::ostream* os) { *os << c.name; }

class LastReleaseTest : public nulltest::NullModemTest,
                        public ::testing::WithParamInterface<LastReleaseInsideAnEvent> {};

// Everything the client thread uses lives here, so a client that is still
// stuck when the test gives up on it never touches freed memory.
struct LastReleaseRun {
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> releasing{false};
    std::atomic<double> releaseMs{-1};
    bool opened = false, eventArrived = false, sinkLetGo = false, portClosed = false;
    size_t eventsAfter = 0;
    ~LastReleaseRun() { ::CloseHandle(done); }

    void Client(DWORD apartment) {
        ::CoInitializeEx(nullptr, apartment);
        {
            nulltest::Control control;
            Peer peer(kPeerPort);
            ComPtr<EventSink> sink = EventSink::Create();
            IRs232DigitalIoDriver* owned = CreateDriver().detach();  // the sink's reference, the only one
            VARIANT_BOOL ok = 0;
            opened = owned && Connect(owned, sink.get()) && owned->Open(PortName(kOurPort).get(), &ok) == S_OK;
            if (opened) {
                sink->onEvent = [&](const Event& e) {
                    if (e.id != kOnCTS || releasing.exchange(true)) return;
                    const LONGLONG start = Now();
                    owned->Release();
                    releaseMs = TicksToMs(Now() - start);
                };
                // The monitor arms the port just after Open: toggle until a change is seen.
                bool rts = true;
                for (int i = 0; i < 50 && !releasing; ++i) {
                    peer.Rts(rts = !rts);
                    Pump(100);
                }
                eventArrived = releasing;
                WaitUntil([&] { return releaseMs >= 0; }, 90000);
                sinkLetGo = WaitUntil([&] { return sink->RefCount() == 1; }, 5000);
                portClosed = WaitUntil([&] { return control.State(kOurPort).is_open == 0; }, 5000);
                const size_t before = sink->Count();
                peer.Rts(!rts);
                Pump(300);
                eventsAfter = sink->Count() - before;
            } else if (owned) {
                owned->Release();
            }
        }
        ::CoUninitialize();
        ::SetEvent(done);
    }
};

TEST_P(LastReleaseTest, ReleaseInsideAnEventReturnsPromptlyAndLeavesNothing) {
    auto run = std::make_shared<LastReleaseRun>();
    const DWORD apartment = GetParam().apartment;
    std::thread client([run, apartment] { run->Client(apartment); });
    // A release that waits for the monitor would hang here for a minute: give up long before.
    if (::WaitForSingleObject(run->done, 15000) != WAIT_OBJECT_0) {
        client.detach();
        FAIL() << "the release inside the event has not returned after 15 s";
    }
    client.join();
    ASSERT_TRUE(run->opened);
    ASSERT_TRUE(run->eventArrived);
    std::printf("%s: release inside OnCTS took %.1f ms\n", GetParam().name, run->releaseMs.load());
    EXPECT_LT(run->releaseMs.load(), 10000.0);
    EXPECT_TRUE(run->sinkLetGo);
    EXPECT_TRUE(run->portClosed);
    EXPECT_EQ(0u, run->eventsAfter);
}

INSTANTIATE_TEST_SUITE_P(Apartments, LastReleaseTest,
                         ::testing::Values(LastReleaseInsideAnEvent{COINIT_MULTITHREADED, "Mta"},
                                           LastReleaseInsideAnEvent{COINIT_APARTMENTTHREADED, "Sta"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarn::test
