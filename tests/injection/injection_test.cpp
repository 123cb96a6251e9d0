// Failure injection: every scenario below runs twice with nothing failed (it
// must then succeed; the count of failable calls the library makes is taken),
// then with the 1st, the 2nd, ... counted call failing, each followed by a run
// with nothing failed, until a run reaches no injected failure.  Each run must
// end in the right result or in the member's documented failure with the
// caller's arguments as they were, and leave no handle, thread or heap block
// behind.  TARN_INJECTION_STRIDE=k runs only every kth N (the full sweep is the
// default); TARN_INJECTION_TRACE=1 names each counted call and its thread.
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/process_resources.h"
#include "injection/failing_calls.h"
#include "injection/scenarios.h"
#include "serial/standin_support.h"
#include "usb/usb_driver_fixture.h"

namespace tarn::test {
namespace {

constexpr long kMostCallsPerRun = 5000;  // a scenario that counts more is looping

long StrideFromEnvironment() {
    const char* text = std::getenv("TARN_INJECTION_STRIDE");
    const long stride = text ? std::atol(text) : 1;
    return stride > 0 ? stride : 1;
}

// The module with its imports redirected, loaded once for the whole program.
class InjectedModule : public ComTest {
protected:
    static void SetUpTestSuite() {
        // Held for the whole program, so objects made by ProgID come from this
        // very module (with its imports redirected) and it is never unloaded.
        if (module_) return;  // redirected once: a second time would wrap the wrappers
        module_ = ::LoadLibraryW(ModulePath().c_str());
        ASSERT_NE(nullptr, module_);
        redirected_ = FailingCalls::Install(module_);
    }

    void SetUp() override {
        ComTest::SetUp();
        ResetStandinPair(StandinPair());
        ResetStandinPair(PortPair{"standin", 23, 24});
        usbtest::Control control;
        ASSERT_TRUE(control.open()) << "the USB stand-in is not running";
        control.Restart(usbtest::Lumo(0));
    }

    // Runs the scenario with the `failAt`th call failing; returns the calls it counted.
    static long RunOnce(const Scenario& scenario, long failAt, std::string& complaint) {
        ScenarioRun run;
        FailingCalls::Arm(failAt);
        scenario.body(run);
        const long counted = FailingCalls::Disarm();
        complaint = run.complaint();
        return counted;
    }

    static HMODULE module_;
    static std::vector<std::string> redirected_;
};
HMODULE InjectedModule::module_ = nullptr;
std::vector<std::string> InjectedModule::redirected_;

class FailureInjection : public InjectedModule, public ::testing::WithParamInterface<Scenario> {};

// A failure on a thread the library does not own (a caller's, or the
// platform's remote-call threads, which live on in a pool): what the static
// run time keeps for a thread that has thrown and caught an exception (its
// exception globals and the thread-local storage behind them, the POSIX
// thread record with its handles) stays until that thread ends, then goes.
// Each call of a by-name Open with a named argument fails in turn on a fresh
// thread; the figures while the thread lives are printed, what is left after
// it ended must be nothing.
TEST_F(InjectedModule, WhatAFailureLeavesOnACallersThreadEndsWithTheThread) {
    struct Figures {
        long blocks = 0, handles = 0;
    };
    auto callOnAFreshThread = [](long failAt, Figures& whileAlive, std::string& failed) {
        const long blocksBefore = FailingCalls::LiveBlocks(), handlesBefore = CountOpenHandles();
        long counted = 0;
        std::thread caller([&] {
            const HRESULT apartment = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            {
                ComPtr<IDispatch> driver = CreateByProgId<IDispatch>(L"TarnDriver.Rs232Driver");
                DISPID id = DISPID_UNKNOWN, parameter = 0;
                VARIANTARG port = Long(nulltest::kPortA);
                DISPPARAMS params{&port, &parameter, 1, 1};
                Variant opened;
                FailingCalls::Arm(failAt);
                if (driver && SUCCEEDED(DispIdOf(driver.get(), L"Open", id)))
                    driver->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &opened, nullptr,
                                   nullptr);
                counted = FailingCalls::Disarm();
                failed = FailingCalls::Failed();
            }
            whileAlive = {FailingCalls::LiveBlocks() - blocksBefore, CountOpenHandles() - handlesBefore};
            if (SUCCEEDED(apartment)) ::CoUninitialize();
        });
        caller.join();
        return counted;
    };
    Figures plain, alive;
    std::string failed;
    for (int warm = 0; warm < 2; ++warm) callOnAFreshThread(0, plain, failed);
    for (long n = 1;; ++n) {
        // The first failure of a kind may make what the process keeps for good
        // (the unwinder's sorted frame tables on the first exception): judged
        // is a second thread failing the same way.
        ResourceGrowth growth{};
        long blocks = 0, counted = 0;
        for (int attempt = 0; attempt < 2; ++attempt) {
            const ProcessResources before = MeasureSettled(CountThreads());
            const long blocksBefore = FailingCalls::LiveBlocks();
            counted = callOnAFreshThread(n, alive, failed);
            growth = MeasureSettled(before.threads) - before;
            blocks = FailingCalls::LiveBlocks() - blocksBefore;
        }
        std::printf("call %2ld (%-17s) failing: while its thread lived %+ld heap blocks, %+ld handles beside a"
                    " run with nothing failing; after it ended %+ld, %+ld\n",
                    n, failed.c_str(), alive.blocks - plain.blocks, alive.handles - plain.handles, blocks,
                    growth.handles);
        EXPECT_EQ(blocks, 0) << "call " << n << " (" << failed << ")";
        EXPECT_LE(growth.handles, 0) << "call " << n << " (" << failed << "): " << Describe(growth);
        if (::testing::Test::HasFailure() || counted < n) break;  // the last run had nothing failed
    }
}

TEST_P(FailureInjection, EveryCountedCallFailedInTurn) {
    const Scenario& scenario = GetParam();
    for (const char* needed : {"malloc", "SysAllocStringLen", "SafeArrayCreate", "CreateEventW", "RegOpenKeyExW"})
        ASSERT_NE(std::find(redirected_.begin(), redirected_.end(), needed), redirected_.end())
            << needed << " is not among the module's imports any more";

    // Nothing failed: the scenario must succeed, twice (the first warms up what
    // the library and COM make once per process).
    std::string complaint;
    long total = 0;
    for (int warm = 0; warm < 2; ++warm) {
        total = RunOnce(scenario, 0, complaint);
        ASSERT_EQ("", complaint) << "with nothing failed";
    }
    ASSERT_GT(total, 0) << "no call was counted: the objects do not come from the redirected module";

    const long stride = StrideFromEnvironment();
    long runs = 0, failures = 0;
    for (long n = 1; n <= kMostCallsPerRun; n += stride) {
        // A leak is growth that comes back each time the same call fails; what
        // a failure makes only once (the run time's first exception, COM's
        // first failed activation) does not.
        ResourceGrowth growth{};
        long blocks = 0, counted = 0;
        std::string failed;
        for (int attempt = 0; attempt < 2; ++attempt) {
            const ProcessResources before = MeasureSettled(CountThreads());
            const long blocksBefore = FailingCalls::LiveBlocks();
            counted = RunOnce(scenario, n, complaint);
            failed = FailingCalls::Failed();
            EXPECT_EQ("", complaint) << "call " << n << " (" << failed << ") failed";
            // Then once more with nothing failing: the library has recovered.
            RunOnce(scenario, 0, complaint);
            EXPECT_EQ("", complaint) << "the run after call " << n << " (" << failed << ") failed";
            growth = MeasureSettled(before.threads) - before;
            blocks = FailingCalls::LiveBlocks() - blocksBefore;
            if (growth.handles <= 0 && growth.threads <= 0 && blocks == 0) break;
        }
        ++runs;
        EXPECT_LE(growth.handles, 0) << "call " << n << " (" << failed << "): " << Describe(growth);
        EXPECT_LE(growth.threads, 0) << "call " << n << " (" << failed << "): " << Describe(growth);
        EXPECT_EQ(blocks, 0) << "heap blocks left by call " << n << " (" << failed << ")";
        if (::testing::Test::HasFailure()) break;  // the first fault is the one to read
        if (counted < n) break;                    // nothing failed: every call has had its turn
        ++failures;
    }
    std::printf("injection %-34s %4ld calls counted, %4ld runs with one failing (stride %ld)\n", scenario.name, total,
                failures, stride);
    std::fflush(stdout);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FailureInjection, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c)
                                 if (isalnum(static_cast<unsigned char>(*c))) name += *c;
                             return name;
                         });

}  // namespace
}  // namespace tarn::test
