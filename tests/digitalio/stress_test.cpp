// Several client threads on one object while the peer toggles its lines
// thousands of times and sinks come and go: no deadlock, no crash, and once
// the lines are quiet each line's last event carries its final level.
#include <olectl.h>

#include <algorithm>
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

// Eight threads work the connection point while the peer keeps events firing:
// they drain shared enumerators together (each connection handed out exactly
// once), clone, skip and reset their own, connect a sink twice and
// disconnect it, and enumerate the live list; meanwhile a sink disconnects
// itself from inside an event.  Cookies and counts stay consistent, and once
// the object is gone every sink has been let go.
TEST_F(StressTest, ConnectionPointUnderEightThreadsWhileEventsFire) {
    constexpr int kThreads = 8, kPool = 64, kRounds = 200, kIterations = 150;
    ComPtr<IConnectionPoint> point = EventsPoint(driver.get());
    ASSERT_TRUE(point);
    std::vector<ComPtr<EventSink>> everySink;  // to count their references at the end
    auto newSink = [&] {
        everySink.push_back(EventSink::Create());
        return everySink.back();
    };

    // The pool: connected throughout, in slot order; its snapshot is the reference.
    std::vector<DWORD> poolCookies;
    for (int i = 0; i < kPool; ++i) {
        DWORD cookie = 0;
        ComPtr<EventSink> sink = newSink();
        sink->yieldInAddRef = true;  // each hand-out of the shared enumerators is interrupted
        ASSERT_EQ(S_OK, point->Advise(sink.get(), &cookie));
        poolCookies.push_back(cookie);
    }
    ComPtr<IEnumConnections> poolSnapshot;
    ASSERT_EQ(S_OK, point->EnumConnections(poolSnapshot.put()));
    std::vector<ComPtr<IEnumConnections>> shared(kRounds);
    for (auto& e : shared) ASSERT_EQ(S_OK, poolSnapshot->Clone(e.put()));

    ComPtr<EventSink> twice = newSink(), leaver = newSink();
    DWORD twiceCookie = 0, again = 0, leaverCookie = 0;
    ASSERT_EQ(S_OK, point->Advise(twice.get(), &twiceCookie));
    ASSERT_EQ(S_OK, point->Advise(twice.get(), &again));
    ASSERT_EQ(twiceCookie, again);
    ASSERT_EQ(S_OK, point->Advise(leaver.get(), &leaverCookie));
    std::atomic<HRESULT> leaverUnadvised{E_PENDING};
    leaver->onEvent = [&](const Event& e) {
        if (e.id != kOnText && leaverUnadvised == E_PENDING) leaverUnadvised = point->Unadvise(leaverCookie);
    };

    Peer peer(kPeerPort);
    ASSERT_TRUE(Open());
    std::vector<std::vector<ComPtr<EventSink>>> own(kThreads);
    for (auto& sinks : own)
        for (int j = 0; j < 3; ++j) sinks.push_back(newSink());

    std::atomic<bool> go{false};
    std::atomic<long> failures{0}, running{kThreads};
    std::vector<std::vector<DWORD>> drained(kThreads * kRounds);  // [thread * kRounds + round]
    auto fail = [&](const char* what, HRESULT hr) {
        if (failures++ < 10) std::printf("  %s: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            while (!go) ::Sleep(0);
            CONNECTDATA data[3];
            for (int r = 0; r < kRounds; ++r) {  // everyone drains the same enumerator at once
                ULONG fetched = 0;
                const ULONG wanted = 1 + (t + r) % 3;
                for (;;) {
                    const HRESULT hr = shared[r]->Next(wanted, data, &fetched);
                    for (ULONG i = 0; i < fetched; ++i) {
                        drained[t * kRounds + r].push_back(data[i].dwCookie);
                        data[i].pUnk->Release();
                    }
                    if (hr != S_OK) break;
                }
            }
            const ComPtr<EventSink>* mine = own[t].data();
            for (int i = 0; i < kIterations; ++i) {
                HRESULT hr = S_OK;
                switch (i % 3) {
                    case 0: {  // the same sink twice: one cookie, two connections, then none
                        DWORD first = 0, second = 0;
                        IUnknown* sink = mine[i % 2].get();
                        if ((hr = point->Advise(sink, &first)) != S_OK || first == 0) fail("Advise", hr);
                        if ((hr = point->Advise(sink, &second)) != S_OK || second != first) fail("Advise again", hr);
                        if ((hr = point->Unadvise(first)) != S_OK) fail("Unadvise", hr);
                        if ((hr = point->Unadvise(first)) != S_OK) fail("Unadvise again", hr);
                        if ((hr = point->Unadvise(first)) != CONNECT_E_NOCONNECTION) fail("Unadvise thrice", hr);
                        break;
                    }
                    case 1: {  // the live list always holds the whole pool, in slot order
                        DWORD cookie = 0;
                        point->Advise(mine[2].get(), &cookie);
                        ComPtr<IEnumConnections> live;
                        if ((hr = point->EnumConnections(live.put())) != S_OK) {
                            fail("EnumConnections", hr);
                            break;
                        }
                        std::vector<DWORD> seen;
                        ULONG fetched = 0;
                        do {
                            hr = live->Next(3, data, &fetched);
                            for (ULONG k = 0; k < fetched; ++k) {
                                if (!data[k].pUnk || data[k].dwCookie == 0) fail("an empty entry", hr);
                                if (data[k].pUnk) data[k].pUnk->Release();
                                seen.push_back(data[k].dwCookie);
                            }
                        } while (hr == S_OK);
                        if (std::count(seen.begin(), seen.end(), cookie) != 1) fail("own connection listed", hr);
                        std::vector<DWORD> pool;
                        for (DWORD c : seen)
                            if (std::find(poolCookies.begin(), poolCookies.end(), c) != poolCookies.end())
                                pool.push_back(c);
                        if (pool != poolCookies) fail("the pool in the live list", hr);
                        if ((hr = point->Unadvise(cookie)) != S_OK) fail("Unadvise own", hr);
                        break;
                    }
                    case 2: {  // a clone of a shared snapshot: reset, skip, and read a known entry
                        ComPtr<IEnumConnections> clone;
                        if ((hr = shared[i % kRounds]->Clone(clone.put())) != S_OK) {
                            fail("Clone", hr);
                            break;
                        }
                        const ULONG skip = static_cast<ULONG>((t * 7 + i) % kPool);
                        ULONG fetched = 0;
                        clone->Reset();
                        if ((hr = clone->Skip(skip)) != S_OK) fail("Skip", hr);
                        if ((hr = clone->Next(1, data, &fetched)) != S_OK || data[0].dwCookie != poolCookies[skip])
                            fail("Next after Skip", hr);
                        if (fetched == 1) data[0].pUnk->Release();
                        if ((hr = clone->Skip(kPool)) != S_FALSE) fail("Skip past the end", hr);
                        break;
                    }
                }
            }
            --running;
            ::CoUninitialize();
        });
    }
    go = true;
    const LONGLONG start = Now();
    for (bool rts = false; running > 0 && TicksToMs(Now() - start) < 120000; rts = !rts) {
        peer.Rts(rts);  // events keep firing to every connected sink
        ::Sleep(2);
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_EQ(S_OK, leaverUnadvised.load());

    std::vector<DWORD> sortedPool = poolCookies;
    std::sort(sortedPool.begin(), sortedPool.end());
    int badRounds = 0;  // a round in which some connection was handed out twice or never
    for (int r = 0; r < kRounds; ++r) {
        std::vector<DWORD> all;
        for (int t = 0; t < kThreads; ++t)
            all.insert(all.end(), drained[t * kRounds + r].begin(), drained[t * kRounds + r].end());
        std::sort(all.begin(), all.end());
        badRounds += all != sortedPool;
    }
    EXPECT_EQ(0, badRounds) << "of " << kRounds << " shared enumerators drained together";

    // Left: the pool and the sink connected twice.
    ComPtr<IEnumConnections> live;
    ASSERT_EQ(S_OK, point->EnumConnections(live.put()));
    std::vector<DWORD> left;
    CONNECTDATA data;
    while (live->Next(1, &data, nullptr) == S_OK) {
        left.push_back(data.dwCookie);
        data.pUnk->Release();
    }
    std::vector<DWORD> expected = poolCookies;
    expected.push_back(twiceCookie);
    expected.push_back(twiceCookie);
    std::sort(left.begin(), left.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, left);

    live.reset();
    twice.reset();  // from here on `everySink` holds the test's only reference to each
    leaver.reset();
    own.clear();
    shared.clear();
    poolSnapshot.reset();
    point.reset();
    driver.reset();
    for (size_t i = 0; i < everySink.size(); ++i)
        EXPECT_TRUE(WaitUntil([&] { return everySink[i]->RefCount() == 1; }, 5000)) << "sink " << i;
}

}  // namespace
}  // namespace tarn::test
