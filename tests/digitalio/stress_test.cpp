// Several client threads on one object while the peer toggles its lines
// thousands of times and sinks come and go: no deadlock, no crash, and once
// the lines are quiet each line's last event carries its final level.
#include <thread>

#include "digitalio/port_fixture.h"

namespace tarn::test {
namespace {

using StressTest = PortTest;

TEST_F(StressTest, ClientsTogglesAndSinksTogether) {
    ComPtr<EventSink> steady = EventSink::Create();
    ASSERT_NE(0u, Connect(driver.get(), steady.get()));
    Peer peer(kPeerPort);
    ASSERT_TRUE(Open());

    std::atomic<bool> stop{false};
    std::atomic<long> calls{0}, failures{0};
    IRs232DigitalIoDriver* object = driver.get();
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            long value = 0;
            for (long i = 0; !stop; ++i) {
                HRESULT hr = S_OK;
                switch ((i + t) % 4) {
                    case 0: hr = object->GetCTS(&value); break;
                    case 1: hr = object->SetRTS(i & 1); break;
                    case 2: hr = object->get_DebounceTime(&value); break;
                    case 3: hr = object->GetDSR(&value); break;
                }
                if (FAILED(hr)) ++failures;
                ++calls;
            }
            ::CoUninitialize();
        });
    }
    threads.emplace_back([&] {  // sinks connecting and disconnecting
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        while (!stop) {
            ComPtr<EventSink> passing = EventSink::Create();
            const DWORD cookie = Connect(object, passing.get());
            ::Sleep(1);
            if (Disconnect(object, cookie) != S_OK) ++failures;
        }
        ::CoUninitialize();
    });

    const LONGLONG start = Now();
    bool rts = true, dtr = true;
    for (int i = 0; i < 3000 && TicksToMs(Now() - start) < 60000; ++i) {
        if (i % 3 == 0) dtr = !dtr, peer.Dtr(dtr);
        else rts = !rts, peer.Rts(rts);
    }
    // End on known levels: CTS low, DSR and DCD high.
    peer.Rts(false);
    peer.Dtr(true);
    stop = true;
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_GT(calls.load(), 3);  // every client thread got through (how far depends on the machine's load)

    // Quiet lines: wait until no event arrives for half a second.
    size_t seen = 0;
    for (int i = 0; i < 60 && (seen == 0 || seen != steady->Count()); ++i) {
        seen = steady->Count();
        ::Sleep(500);
    }
    const std::vector<Event> events = steady->Events();
    ASSERT_FALSE(Only(events, kOnCTS).empty());
    ASSERT_FALSE(Only(events, kOnDSR).empty());
    EXPECT_EQ(0, Only(events, kOnCTS).back().level);
    EXPECT_EQ(1, Only(events, kOnDSR).back().level);
    EXPECT_EQ(1, Only(events, kOnDCD).back().level);
    long cts = -1;
    EXPECT_EQ(S_OK, driver->GetCTS(&cts));
    EXPECT_EQ(0, cts);
    std::printf("stress: %ld client calls, %zu events in %.0f ms\n", calls.load(), events.size(),
                TicksToMs(Now() - start));

    const LONGLONG releasing = Now();
    driver.reset();
    EXPECT_LT(TicksToMs(Now() - releasing), 2000.0);
}

}  // namespace
}  // namespace tarn::test
