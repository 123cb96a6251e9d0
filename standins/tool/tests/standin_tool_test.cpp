// standin.exe from the outside: exit codes, and that each serial command
// reaches the null-modem stand-in.
#include "nullmodem_test_support.h"

using namespace nulltest;

namespace {

struct ToolRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;
};

// Runs standin.exe (beside this test program) with `args`, capturing stdout.
ToolRun RunTool(const std::wstring &args) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring exe(self);
    exe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"standin.exe";
    std::wstring commandLine = L"\"" + exe + L"\" " + args;

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    EXPECT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
    Handle reader(readEnd), writer(writeEnd);
    SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);

    Handle quiet(CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writer.get();
    si.hStdError = quiet.get();  // usage texts would only clutter the test log
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    ToolRun run;
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        ADD_FAILURE() << "cannot start standin.exe, error " << GetLastError();
        return run;
    }
    Handle process(pi.hProcess), thread(pi.hThread);
    writer.reset();
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(reader.get(), buffer, sizeof buffer, &n, nullptr) && n) run.output.append(buffer, n);
    EXPECT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
    GetExitCodeProcess(process.get(), &run.exitCode);
    run.output.erase(std::remove(run.output.begin(), run.output.end(), '\r'), run.output.end());  // text-mode stdout
    return run;
}

class StandinToolTest : public NullModemTest {};

TEST_F(StandinToolTest, UsageErrorsExitWithTwo) {
    EXPECT_EQ(RunTool(L"").exitCode, 2u);
    EXPECT_EQ(RunTool(L"bogus").exitCode, 2u);
    EXPECT_EQ(RunTool(L"serial").exitCode, 2u);
    EXPECT_EQ(RunTool(L"serial line COMX ri on").exitCode, 2u);
    EXPECT_EQ(RunTool(L"serial line COM21 xx on").exitCode, 2u);
    EXPECT_EQ(RunTool(L"serial fail COM21 nosuchkind 1").exitCode, 2u);
    EXPECT_EQ(RunTool(L"serial show COM99").exitCode, 1u) << "a port the stand-in does not have";
}

// ./tarn prints the same texts itself, without Wine; the serial one names
// every request kind the stand-in counts.
TEST_F(StandinToolTest, HelpGoesToStandardOutputAndExitsZero) {
    for (const wchar_t *args : {L"help", L"serial help", L"usb help"}) {
        ToolRun help = RunTool(args);
        EXPECT_EQ(help.exitCode, 0u) << args;
        EXPECT_EQ(help.output.rfind("usage: standin", 0), 0u) << help.output;
    }
    const std::string serial = RunTool(L"serial help").output;
#define EXPECT_KIND_LISTED(id, text) EXPECT_NE(serial.find(text), std::string::npos) << text;
    TARN_NULLMODEM_REQUEST_KINDS(EXPECT_KIND_LISTED)
#undef EXPECT_KIND_LISTED
}

TEST_F(StandinToolTest, ListShowsEveryPairAndShowCountsRequests) {
    ToolRun list = RunTool(L"serial list");
    EXPECT_EQ(list.exitCode, 0u);
    EXPECT_NE(list.output.find("COM21 <-> COM22"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("COM24 <-> COM23"), std::string::npos) << list.output;
    {
        Handle port = OpenSync(kPortA);
        ASSERT_TRUE(port.valid());
        ModemStatus(port.get());
        ToolRun show = RunTool(L"serial show 21");
        EXPECT_EQ(show.exitCode, 0u);
        EXPECT_NE(show.output.find("open"), std::string::npos) << show.output;
        EXPECT_NE(show.output.find("getmodemstatus=1"), std::string::npos) << show.output;
    }
}

// Each command reaches the port and says on one line what it did.
TEST_F(StandinToolTest, LineForcesAndReleasesAnInput) {
    const struct {
        const wchar_t *args;
        uint32_t source;
        const char *said;
    } rows[] = {
        {L"serial line com22 dcd on", TARN_NULLMODEM_LINE_FORCED_ON, "COM22: DCD on\n"},
        {L"serial line 22 dcd off", TARN_NULLMODEM_LINE_FORCED_OFF, "COM22: DCD off\n"},
        {L"serial line COM22 dcd wired", TARN_NULLMODEM_LINE_WIRED, "COM22: DCD wired (follows the cable again)\n"},
    };
    for (const auto &row : rows) {
        ToolRun run = RunTool(row.args);
        EXPECT_EQ(run.exitCode, 0u) << row.said;
        EXPECT_EQ(run.output, row.said);
        EXPECT_EQ(control.State(kPortB).line_source[TARN_NULLMODEM_LINE_DCD], row.source) << row.said;
    }
}

TEST_F(StandinToolTest, RingPulsesRiOnAnOpenPort) {
    Handle lines = OpenLines(kPortB);
    ASSERT_TRUE(lines.valid());
    ASSERT_TRUE(SetCommMask(lines.get(), EV_RING));
    Overlapped ov;
    DWORD mask = 0;
    ASSERT_FALSE(WaitCommEvent(lines.get(), &mask, ov.get()));
    EXPECT_EQ(RunTool(L"serial ring COM22 50").exitCode, 0u);
    ASSERT_TRUE(ov.WaitDone(2000));
    EXPECT_EQ(mask, static_cast<DWORD>(EV_RING));
    EXPECT_EQ(ModemStatus(lines.get()) & MS_RING_ON, 0u) << "the ring is over";
}

TEST_F(StandinToolTest, FailUnplugPaceAndResetReachThePort) {
    ToolRun armed = RunTool(L"serial fail COM21 setqueuesize 1 0xC0000185");
    EXPECT_EQ(armed.exitCode, 0u);
    EXPECT_EQ(armed.output, "COM21: the next 1 setqueuesize request(s) fail with 0xC0000185\n");
    {
        Handle port = OpenSync(kPortA);
        ASSERT_TRUE(port.valid());
        EXPECT_FALSE(SetupComm(port.get(), 4096, 4096));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_DEVICE));
        EXPECT_TRUE(SetupComm(port.get(), 4096, 4096));
    }
    EXPECT_EQ(RunTool(L"serial unplug COM21").exitCode, 0u);
    EXPECT_EQ(control.State(kPortA).plugged, 0u);
    EXPECT_EQ(RunTool(L"serial plug COM21").exitCode, 0u);
    EXPECT_EQ(control.State(kPortA).plugged, 1u);
    EXPECT_EQ(RunTool(L"serial pace COM21 on").exitCode, 0u);
    EXPECT_EQ(control.State(kPortA).pacing, 1u);
    EXPECT_EQ(RunTool(L"serial unplug COM23").exitCode, 0u);
    EXPECT_EQ(RunTool(L"serial reset all").exitCode, 0u);
    EXPECT_EQ(control.State(kPortA).pacing, 0u);
    EXPECT_EQ(control.State(kPortA + 2).plugged, 1u);
}

}  // namespace
