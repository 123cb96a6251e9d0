// A 32-bit and a 64-bit client on one machine: each process finds the
// registration of its own bitness, and both serialise on one USB device
// through the device mutex.  Runs only where 32-bit programs run.
#include <atomic>
#include <sstream>
#include <string>
#include <vector>

#include "architectures/architecture_folders.h"
#include "platform/unique_handle.h"
#include "usb_test_support.h"

namespace tarn::test {
namespace {

struct ProcessResult {
    bool started = false;
    DWORD exitCode = ~0u;
    std::string output;
};

// Runs `command` with its standard output read back, bounded by `timeoutMs`.
ProcessResult RunCapturing(std::wstring command, DWORD timeoutMs) {
    ProcessResult result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
    UniqueHandle reader(readEnd), writer(writeEnd);
    ::SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{sizeof startup};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writer.get();
    startup.hStdError = writer.get();
    PROCESS_INFORMATION process{};
    result.started = ::CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                      &startup, &process) != FALSE;
    writer.reset();  // the child holds the only write end now: the read ends when it exits
    if (!result.started) return result;
    UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
    char buffer[512];
    DWORD read = 0;
    while (::ReadFile(reader.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) result.output.append(buffer, read);
    if (::WaitForSingleObject(processHandle.get(), timeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(processHandle.get(), 1);
        return result;
    }
    ::GetExitCodeProcess(processHandle.get(), &result.exitCode);
    return result;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

TEST(MixedArchitectures, EachBitnessOfClientFindsItsOwnModule) {
    for (const wchar_t* architecture : {L"x86", L"x64"}) {
        SCOPED_TRACE(Narrow(architecture));
        const std::wstring folder = BinFolderOf(architecture);
        const ProcessResult run = RunCapturing(L"\"" + folder + L"which_module.exe\"", 60000);
        ASSERT_TRUE(run.started) << "which_module.exe missing in " << Narrow(folder);
        EXPECT_EQ(run.exitCode, 0u) << "classes not created: " << run.output;
        const std::vector<std::string> served = Lines(run.output);
        ASSERT_EQ(served.size(), 4u) << run.output;
        const std::string expected = Narrow(folder + L"TarnDriver.DLL");
        for (const std::string& module : served) EXPECT_EQ(_stricmp(module.c_str(), expected.c_str()), 0) << module;
    }
}

class MixedUsbClients : public usbtest::FreshDevices {};

TEST_F(MixedUsbClients, ShareOneDeviceOneRequestAtATime) {
    const TarnUsbDeviceId lumo0 = usbtest::Lumo(0);
    // Slow requests, so the two processes' runs overlap however their starts fall.
    control.Delay(lumo0, 10, 80);
    const uint32_t firstSequence = control.NextSequence();
    struct Client {
        PROCESS_INFORMATION process{};
        bool started = false;
    } clients[2];
    const wchar_t* const architectures[] = {L"x86", L"x64"};
    for (int i = 0; i < 2; ++i) {
        std::wstring command = L"\"" + BinFolderOf(architectures[i]) + L"usb_hammer.exe\" 40";
        STARTUPINFOW startup{sizeof startup};
        clients[i].started = ::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                              &startup, &clients[i].process) != FALSE;
    }
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(Narrow(architectures[i]));
        ASSERT_TRUE(clients[i].started) << "usb_hammer.exe missing";
        UniqueHandle process(clients[i].process.hProcess), thread(clients[i].process.hThread);
        ASSERT_EQ(::WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
        DWORD failures = ~0u;
        ::GetExitCodeProcess(process.get(), &failures);
        EXPECT_EQ(failures, 0u) << "requests of the " << Narrow(architectures[i]) << " client failed";
    }
    const TarnUsbDeviceStatus status = control.Status(lumo0);
    EXPECT_EQ(status.requests, 80u);
    EXPECT_EQ(status.max_in_flight, 1u) << "requests of the two clients overlapped";
    // Both were at it together: their requests reached the device interleaved.
    std::vector<uint32_t> senders;
    for (const TarnUsbLogEntry& entry : control.Log(firstSequence - 1))
        if (senders.empty() || senders.back() != entry.handle_id) senders.push_back(entry.handle_id);
    EXPECT_GE(senders.size(), 3u) << "one client finished before the other began: nothing was shown";
}

}  // namespace
}  // namespace tarn::test
