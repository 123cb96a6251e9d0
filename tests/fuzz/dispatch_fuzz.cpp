// The dispatch fuzzer: every member of every class (and some that do not
// exist) through IDispatch::Invoke, with random argument counts, named-argument
// layouts, flags and hostile VARIANTs, against objects never opened, closed and
// open on the stand-ins.  It checks that no call crashes or hangs, that only
// documented HRESULTs come back, that every value handed back can be cleared,
// and that the caller's arguments and arrays are left as the rules require.
//
//   dispatch_fuzz [CALLS] [SEED]   runs CALLS calls (default 3000) in batches,
//                                   each batch in a process of its own, so that
//                                   a crash is counted and the run goes on
//   dispatch_fuzz --batch SEED FROM COUNT   one batch, in this process
//
// Call i of a run depends only on (SEED, i) and on the state the calls of its
// batch left behind: a batch is made again by running it with the same figures.
#include <windows.h>
#include <oaidl.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "TarnDriver.h"
#include "fuzz_random.h"
#include "fuzz_targets.h"
#include "hostile_values.h"

namespace tarn::fuzz {
namespace {

constexpr ULONGLONG kBatchCalls = 25000;
constexpr ULONGLONG kCallBoundMs = 20000;   // far beyond any documented wait of one call
constexpr ULONGLONG kReadRescueMs = 300;    // a main-endpoint read may wait for bytes that never come
constexpr int kCrashExit = 3, kHangExit = 4;

// --- Reporting from a batch process --------------------------------------------
void Say(const std::string& line) {
    DWORD written = 0;
    const std::string text = line + "\n";
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::atomic<long long> g_current{-1};
std::atomic<ULONGLONG> g_startedMs{0};
std::atomic<long long> g_preparing{-1};  // the call being built or checked
std::atomic<ULONGLONG> g_preparedMs{0};
char g_description[512];  // the running call, for crash and hang reports

LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
    // Where it happened: the module and the offset in it.
    void* const address = info->ExceptionRecord->ExceptionAddress;
    HMODULE module = nullptr;
    char name[MAX_PATH] = "?";
    if (::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             static_cast<const char*>(address), &module))
        ::GetModuleFileNameA(module, name, sizeof name);
    char line[1024];
    std::snprintf(line, sizeof line, "crash at call %lld: exception 0x%08lX at %p (%s+0x%llx) in %s",
                  g_current.load(), info->ExceptionRecord->ExceptionCode, address, name,
                  static_cast<unsigned long long>(static_cast<const char*>(address) -
                                                  reinterpret_cast<const char*>(module)),
                  g_description);
    Say(line);
    ::TerminateProcess(::GetCurrentProcess(), kCrashExit);
    return EXCEPTION_EXECUTE_HANDLER;
}

bool Documented(HRESULT hr) {
    switch (hr) {
        case S_OK: case S_FALSE: case E_POINTER: case E_FAIL: case E_INVALIDARG: case E_OUTOFMEMORY: return true;
        default: break;
    }
    // The type information's Invoke: conversions, counts, names, exceptions.
    return hr >= DISP_E_UNKNOWNINTERFACE && hr <= DISP_E_BUFFERTOOSMALL;
}

WORD FlagsOf(WORD kind) {
    switch (kind) {
        case INVOKE_PROPERTYGET: return DISPATCH_PROPERTYGET;
        case INVOKE_PROPERTYPUT: return DISPATCH_PROPERTYPUT;
        case INVOKE_PROPERTYPUTREF: return DISPATCH_PROPERTYPUTREF;
        default: return DISPATCH_METHOD;
    }
}

// Arguments that size an allocation: kept to what a caller reads in one go.
int AllocatingPosition(const Target& target, DISPID id) {
    if (IsEqualIID(target.iid, IID_IRs232Driver) && id == 120) return 0;  // Read's byte count
    if (IsEqualIID(target.iid, IID_IUsbDriver) && id == 104) return 3;    // VendorRequestRead's byte count
    return -1;
}

struct Batch {
    uint64_t seed;
    Targets targets;
    ULONGLONG failures = 0;
    ULONGLONG reported = 0;
    bool trace = std::getenv("TARN_FUZZ_TRACE") != nullptr;
    std::map<std::string, ULONGLONG> spentMs;  // by class, state and member: where the time goes

    void Fail(unsigned long long index, const std::string& what) {
        ++failures;
        if (reported++ < 20) Say("failure at call " + std::to_string(index) + ": " + what + " in " + g_description);
    }

    void Call(unsigned long long index);
};

void Batch::Call(unsigned long long index) {
    g_preparedMs = ::GetTickCount64();
    g_preparing = static_cast<long long>(index);
    Rng rng = Rng::ForCall(seed, index);
    std::vector<Target>& all = targets.all();
    Target& target = all[rng.Below(static_cast<uint32_t>(all.size()))];

    DISPID id;
    WORD flags;
    UINT count;
    if (rng.OneIn(12)) {
        const DISPID kMissing[] = {-1, -4, -5, 1, 2, 99, 111, 999, 1002, 5000, 0x7FFFFFFF, static_cast<DISPID>(0x80000000)};
        id = rng.Pick(kMissing);
        flags = static_cast<WORD>(1u << rng.Below(4));
        count = rng.Below(4);
    } else {
        const Member& member = target.members[rng.Below(static_cast<uint32_t>(target.members.size()))];
        id = member.id;
        flags = FlagsOf(member.kind);
        count = member.parameters;
        if (rng.OneIn(4)) count = rng.Below(7);
    }
    if (rng.OneIn(8)) flags = static_cast<WORD>(rng.Below(32));  // any combination, none and unknown bits
    else if (rng.OneIn(8)) flags |= DISPATCH_PROPERTYGET | DISPATCH_METHOD;

    Arena arena(targets.Objects());
    std::vector<VARIANTARG> arguments(count);
    for (VARIANTARG& argument : arguments) argument = arena.Value(rng);
    const int allocating = AllocatingPosition(target, id);
    if (allocating >= 0 && static_cast<UINT>(allocating) < count) {
        VARIANTARG& size = arguments[count - 1 - allocating];  // arguments stand right to left
        size.vt = VT_I4;
        size.lVal = rng.OneIn(4) ? -static_cast<LONG>(rng.Below(3)) : static_cast<LONG>(rng.Below(4097));
    }

    std::vector<DISPID> named;
    DISPPARAMS params{arguments.data(), nullptr, count, 0};
    const uint32_t layout = rng.Below(20);
    if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) && count > 0 && layout < 14) {
        named.push_back(DISPID_PROPERTYPUT);
    } else if (layout >= 14 && layout < 18 && count > 0) {
        const UINT howMany = 1 + rng.Below(count);
        for (UINT i = 0; i < howMany; ++i) {
            const DISPID kNames[] = {DISPID_PROPERTYPUT, -1, 0, 1, 2, 3, 4, 5, 99};
            named.push_back(rng.OneIn(3) ? rng.Pick(kNames) : static_cast<DISPID>(rng.Below(count)));
        }
    }
    params.cNamedArgs = static_cast<UINT>(named.size());
    params.rgdispidNamedArgs = named.empty() ? nullptr : named.data();
    DISPPARAMS* passed = &params;
    if (layout == 18) {  // lists that promise what they do not hold
        switch (rng.Below(4)) {
            case 0: passed = nullptr; break;
            case 1: params.rgvarg = nullptr; params.cArgs = 1 + rng.Below(3); break;
            case 2: params.rgdispidNamedArgs = nullptr; params.cNamedArgs = 1 + rng.Below(3); break;
            case 3: params.cNamedArgs = count + 1 + rng.Below(3); named.resize(params.cNamedArgs, 0);
                    params.rgdispidNamedArgs = named.data(); break;
        }
    }
    const std::vector<VARIANTARG> before = arguments;

    VARIANT result;
    ::VariantInit(&result);
    EXCEPINFO exception{};
    UINT argumentError = 0;
    const LCID kLocales[] = {0, 0x409, 0x407, LOCALE_USER_DEFAULT, 0xFFFFFFFF};
    std::string types;
    for (const VARIANTARG& argument : arguments) types += DescribeType(argument.vt) + " ";
    std::string names;
    if (passed && passed->rgdispidNamedArgs)
        for (UINT i = 0; i < passed->cNamedArgs; ++i) names += " " + std::to_string(passed->rgdispidNamedArgs[i]);
    std::snprintf(g_description, sizeof g_description, "%s: DISPID %ld flags 0x%X, %u arguments [%s] %u named%s",
                  target.label.c_str(), id, flags, passed ? passed->cArgs : 0, types.c_str(),
                  passed ? passed->cNamedArgs : 0, names.c_str());

    // TARN_FUZZ_TRACE=1 names each call on stderr before it runs, so that what
    // the platform reports on stderr (WINEDEBUG) stands after the call behind it.
    if (trace) {
        std::fprintf(stderr, "call %llu: %s\n", index, g_description);
        std::fflush(stderr);
    }
    g_startedMs = ::GetTickCount64();
    g_current = static_cast<long long>(index);
    const HRESULT hr = target.object->Invoke(id, IID_NULL, rng.Pick(kLocales), flags, passed,
                                             rng.OneIn(5) ? nullptr : &result,
                                             rng.OneIn(4) ? nullptr : &exception,
                                             rng.OneIn(4) ? nullptr : &argumentError);
    g_current = -1;
    spentMs[target.label + " " + std::to_string(id)] += ::GetTickCount64() - g_startedMs.load();

    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    if (!Documented(hr)) Fail(index, std::string("undocumented HRESULT ") + code);
    for (UINT i = 0; i < count; ++i) {
        if (memcmp(&before[i], &arguments[i], sizeof(VARIANTARG)) == 0) continue;
        char what[160];
        std::snprintf(what, sizeof what, "argument %u passed in was changed: %s %p -> %s %p", i,
                      DescribeType(before[i].vt).c_str(), before[i].byref, DescribeType(arguments[i].vt).c_str(),
                      arguments[i].byref);
        Fail(index, what);
    }
    for (const std::string& problem : arena.Check()) Fail(index, problem);
    std::string why;
    if (!IsClearable(result, why)) Fail(index, "result: " + why);
    else if (FAILED(::VariantClear(&result))) Fail(index, "result can't be cleared");
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
    ::SetErrorInfo(0, nullptr);
}

struct Work {
    Batch* batch;
    unsigned long long from, count;
};

DWORD WINAPI RunCalls(void* context) {
    auto* work = static_cast<Work*>(context);
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    for (unsigned long long i = work->from; i < work->from + work->count; ++i) work->batch->Call(i);
    ::CoUninitialize();
    return 0;
}

int RunBatch(uint64_t seed, unsigned long long from, unsigned long long count) {
    ::SetUnhandledExceptionFilter(OnCrash);
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    auto* batch = new Batch{seed, {}};  // left to the process's end: objects may be in any state
    std::string why;
    if (!batch->targets.Create(why)) {
        Say("setup failed: " + why);
        return 2;
    }
    Work work{batch, from, count};
    HANDLE worker = ::CreateThread(nullptr, 0, RunCalls, &work, 0, nullptr);
    ULONGLONG lastRescue = 0;
    while (::WaitForSingleObject(worker, 100) == WAIT_TIMEOUT) {
        const long long current = g_current.load();
        if (current < 0) {
            // Stuck outside the call: building or checking its values.
            if (::GetTickCount64() - g_preparedMs.load() > kCallBoundMs) {
                Say("hang at call " + std::to_string(g_preparing.load()) + ": outside the call (building it, or checking it after " +
                    g_description + ")");
                ::TerminateProcess(::GetCurrentProcess(), kHangExit);
            }
            continue;
        }
        const ULONGLONG running = ::GetTickCount64() - g_startedMs.load();
        if (g_current.load() != current) continue;
        if (running > kCallBoundMs) {
            Say("hang at call " + std::to_string(current) + ": over " + std::to_string(kCallBoundMs / 1000) +
                " s in " + g_description);
            ::TerminateProcess(::GetCurrentProcess(), kHangExit);
        }
        if (running > kReadRescueMs && ::GetTickCount64() - lastRescue > kReadRescueMs) {
            batch->targets.ReleaseWaitingReads();
            lastRescue = ::GetTickCount64();
        }
    }
    ::CloseHandle(worker);
    if (::GetEnvironmentVariableW(L"TARN_FUZZ_PROFILE", nullptr, 0)) {
        std::vector<std::pair<ULONGLONG, std::string>> slowest;
        for (const auto& [member, ms] : batch->spentMs) slowest.emplace_back(ms, member);
        std::sort(slowest.rbegin(), slowest.rend());
        for (size_t i = 0; i < slowest.size() && i < 10; ++i)
            Say("time " + std::to_string(slowest[i].first) + " ms in " + slowest[i].second);
    }
    Say("batch calls " + std::to_string(count) + " failures " + std::to_string(batch->failures));
    ::ExitProcess(0);  // the objects' states are the fuzz's: no orderly teardown is owed
}

// --- The run: batches in processes of their own -----------------------------------
struct Outcome {
    DWORD exitCode = 1;
    std::string output;
};

Outcome RunChild(uint64_t seed, unsigned long long from, unsigned long long count) {
    Outcome outcome;
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --batch " + std::to_wstring(seed) + L" " +
                           std::to_wstring(from) + L" " + std::to_wstring(count);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return outcome;
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL started =
        ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    ::CloseHandle(writeEnd);
    if (started) {
        // Read until the batch ends, not until the pipe closes: a process the
        // batch started (a debugger, a service) may hold the pipe open.
        char buffer[4096];
        for (bool ended = false; !ended;) {
            ended = ::WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0;
            DWORD waiting = 0, got = 0;
            while (::PeekNamedPipe(readEnd, nullptr, 0, nullptr, &waiting, nullptr) && waiting &&
                   ::ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got)
                outcome.output.append(buffer, got);
        }
        ::GetExitCodeProcess(process.hProcess, &outcome.exitCode);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(readEnd);
    return outcome;
}

int Run(unsigned long long calls, uint64_t seed) {
    std::printf("dispatch fuzz: %llu calls, seed %llu\n", calls, static_cast<unsigned long long>(seed));
    std::fflush(stdout);
    unsigned long long done = 0, crashes = 0, hangs = 0, failures = 0, shown = 0;
    const ULONGLONG started = ::GetTickCount64();
    for (unsigned long long from = 0; from < calls;) {
        const unsigned long long count = calls - from < kBatchCalls ? calls - from : kBatchCalls;
        const Outcome outcome = RunChild(seed, from, count);
        unsigned long long stoppedAt = from + count, batchFailures = 0;
        bool stopped = false;
        size_t start = 0;
        while (start < outcome.output.size()) {
            size_t end = outcome.output.find('\n', start);
            if (end == std::string::npos) end = outcome.output.size();
            const std::string line = outcome.output.substr(start, end - start);
            start = end + 1;
            unsigned long long at = 0, n = 0;
            if (std::sscanf(line.c_str(), "crash at call %llu", &at) == 1 ||
                std::sscanf(line.c_str(), "hang at call %llu", &at) == 1) {
                stoppedAt = at;
                stopped = true;
            }
            if (std::sscanf(line.c_str(), "batch calls %llu failures %llu", &n, &batchFailures) == 2) continue;
            if (!line.empty() && shown++ < 60) std::printf("  %s\n", line.c_str());
        }
        failures += batchFailures;
        if (outcome.exitCode == 0) {
            done += count;
            from += count;
        } else if (stopped) {
            (outcome.exitCode == static_cast<DWORD>(kHangExit) ? hangs : crashes) += 1;
            done += stoppedAt - from + 1;
            from = stoppedAt + 1;
        } else {
            std::printf("  batch from call %llu ended with exit code %lu and no report\n", from, outcome.exitCode);
            ++crashes;
            break;
        }
        std::fflush(stdout);
    }
    const double seconds = static_cast<double>(::GetTickCount64() - started) / 1000.0;
    std::printf("calls %llu, crashes %llu, hangs %llu, failures %llu, seed %llu, %.0f s (%.0f calls/s)\n", done,
                crashes, hangs, failures, static_cast<unsigned long long>(seed), seconds,
                seconds > 0 ? static_cast<double>(done) / seconds : 0.0);
    return crashes == 0 && hangs == 0 && failures == 0 && done == calls ? 0 : 1;
}

}  // namespace
}  // namespace tarn::fuzz

int wmain(int argc, wchar_t** argv) {
    using namespace tarn::fuzz;
    if (argc == 5 && wcscmp(argv[1], L"--batch") == 0)
        return RunBatch(_wcstoui64(argv[2], nullptr, 10), _wcstoui64(argv[3], nullptr, 10),
                        _wcstoui64(argv[4], nullptr, 10));
    const unsigned long long calls = argc > 1 ? _wcstoui64(argv[1], nullptr, 10) : 3000;
    const uint64_t seed = argc > 2 ? _wcstoui64(argv[2], nullptr, 10) : ::GetTickCount64();
    return Run(calls, seed);
}
