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
    return run;
}

class StandinToolTest : public NullModemTest {};

TEST_F(StandinToolTest, UsageErrorsExitWithTwo) {
    EXPECT_EQ(RunTool(L"").exitCode, 2u);
    EXPECT_EQ(RunTool(L"bogus").exitCode, 2u);
    EXPECT_EQ(RunTool(L"serial").exitCode, 2u);
    EXPECT_EQ(RunTool(L"serial help").exitCode, 2u);
    EXPECT_EQ(RunTool(L"serial line COMX ri on").exitCode, 2u);
    EXPECT_EQ(RunTool(L"serial line COM21 xx on").exitCode, 2u);
    EXPECT_EQ(RunTool(L"serial fail COM21 nosuchkind 1").exitCode, 2u);
    EXPECT_EQ(RunTool(L"serial show COM99").exitCode, 1u) << "a port the stand-in does not have";
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

TEST_F(StandinToolTest, LineForcesAndReleasesAnInput) {
    EXPECT_EQ(RunTool(L"serial line com22 dcd on").exitCode, 0u);
    EXPECT_EQ(control.State(kPortB).line_source[TARN_NULLMODEM_LINE_DCD], static_cast<uint32_t>(TARN_NULLMODEM_LINE_FORCED_ON));
    EXPECT_EQ(RunTool(L"serial line 22 dcd off").exitCode, 0u);
    EXPECT_EQ(control.State(kPortB).line_source[TARN_NULLMODEM_LINE_DCD], static_cast<uint32_t>(TARN_NULLMODEM_LINE_FORCED_OFF));
    EXPECT_EQ(RunTool(L"serial line COM22 dcd wired").exitCode, 0u);
    EXPECT_EQ(control.State(kPortB).line_source[TARN_NULLMODEM_LINE_DCD], static_cast<uint32_t>(TARN_NULLMODEM_LINE_WIRED));
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
    EXPECT_EQ(RunTool(L"serial fail COM21 setqueuesize 1 0xC0000185").exitCode, 0u);
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
