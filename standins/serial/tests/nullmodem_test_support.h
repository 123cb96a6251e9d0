// Helpers for the null-modem stand-in's tests: plain Win32 clients of the
// ports and of the control device, each handle owned by one object.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "nullmodem_control.h"
#include "common/stopwatch.h"
#include "platform/unique_handle.h"

namespace nulltest {

constexpr int kPortA = 21;  // wired to kPortB
constexpr int kPortB = 22;

// Each handle is closed once, by its owner.
using Handle = tarn::UniqueFileHandle;

inline std::wstring PortPath(int number) { return L"\\\\.\\COM" + std::to_wstring(number); }

// The way the byte driver opens a port: read/write, exclusive, synchronous.
inline Handle OpenSync(int number) {
    return Handle(CreateFileW(PortPath(number).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr));
}

// The way the line driver opens a port: no data access, overlapped.
inline Handle OpenLines(int number) {
    return Handle(CreateFileW(PortPath(number).c_str(), 0, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr));
}

inline Handle OpenOverlapped(int number) {
    return Handle(CreateFileW(PortPath(number).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
}

// An OVERLAPPED with its own manual-reset event.  Completion is judged by the
// event only (Wine leaves a wrong status in Internal while a request is pending).
class Overlapped {
public:
    Overlapped() { ov_.hEvent = event_.get(); }
    OVERLAPPED *get() { return &ov_; }
    bool WaitDone(DWORD ms) { return WaitForSingleObject(event_.get(), ms) == WAIT_OBJECT_0; }
    // Result of the finished request: true on success; `count` gets the transferred bytes.
    bool Result(HANDLE port, DWORD *count, DWORD *error) {
        DWORD n = 0;
        BOOL ok = GetOverlappedResult(port, &ov_, &n, FALSE);
        if (error) *error = ok ? 0 : GetLastError();
        if (count) *count = n;
        return ok != FALSE;
    }

private:
    Handle event_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    OVERLAPPED ov_{};
};

using tarn::test::Stopwatch;

// Client of the control device.
class Control {
public:
    Control()
        : h_(CreateFileW(TARN_NULLMODEM_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    bool valid() const { return h_.valid(); }

    template <typename In>
    bool Send(DWORD code, const In &in, void *out = nullptr, DWORD outSize = 0) {
        DWORD n = 0;
        return DeviceIoControl(h_.get(), code, const_cast<In *>(&in), sizeof in, out, outSize, &n, nullptr) != FALSE;
    }
    bool Info(TarnNullModemInfo *info) {
        DWORD n = 0;
        return DeviceIoControl(h_.get(), TARN_NULLMODEM_CONTROL_GET_INFO, nullptr, 0, info, sizeof *info, &n, nullptr) != FALSE;
    }
    TarnNullModemPortState State(int port) {
        TarnNullModemPortState s{};
        TarnNullModemPortRef ref{static_cast<uint32_t>(port)};
        EXPECT_TRUE(Send(TARN_NULLMODEM_CONTROL_GET_PORT, ref, &s, sizeof s)) << "port " << port;
        return s;
    }
    bool Reset(int port) { return Send(TARN_NULLMODEM_CONTROL_RESET_PORT, TarnNullModemPortRef{static_cast<uint32_t>(port)}); }
    bool SetLine(int port, TARN_NULLMODEM_LINE line, TARN_NULLMODEM_LINE_SOURCE source) {
        return Send(TARN_NULLMODEM_CONTROL_SET_LINE, TarnNullModemLineRequest{static_cast<uint32_t>(port),
                                                                   static_cast<uint32_t>(line),
                                                                   static_cast<uint32_t>(source)});
    }
    bool FailNext(int port, uint32_t kind, uint32_t count, int32_t status = static_cast<int32_t>(0xC0000001u)) {
        return Send(TARN_NULLMODEM_CONTROL_FAIL_NEXT,
                    TarnNullModemFaultRequest{static_cast<uint32_t>(port), kind, count, status});
    }
    bool Plug(int port, bool on) {
        return Send(TARN_NULLMODEM_CONTROL_SET_PLUGGED, TarnNullModemSwitchRequest{static_cast<uint32_t>(port), on ? 1u : 0u});
    }
    bool Pace(int port, bool on) {
        return Send(TARN_NULLMODEM_CONTROL_SET_PACING, TarnNullModemSwitchRequest{static_cast<uint32_t>(port), on ? 1u : 0u});
    }

private:
    Handle h_;
};

// Every test starts from ports in their pristine state.
class NullModemTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(control.valid()) << "the TarnNullModem service is not running (standins/service.sh start)";
        for (int port : {kPortA, kPortB, kPortA + 2, kPortB + 2}) {
            ASSERT_TRUE(control.Reset(port));
            // the previous test closed its handles; their close requests are in front of ours
            ASSERT_EQ(control.State(port).is_open, 0u) << "port " << port << " still open";
        }
    }

    Control control;
};

// Both ends of the first cable, opened as the byte driver opens them.
class CableTest : public NullModemTest {
protected:
    void SetUp() override {
        NullModemTest::SetUp();
        a = OpenSync(kPortA);
        b = OpenSync(kPortB);
        ASSERT_TRUE(a.valid() && b.valid());
    }

    Handle a, b;
};

// The port names listed in HKLM\HARDWARE\DEVICEMAP\SERIALCOMM.
inline std::vector<std::wstring> PortMapNames() {
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; i++) {
        wchar_t name[256], data[64];
        DWORD nameLen = 256, dataLen = sizeof data, type = 0;
        if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, reinterpret_cast<BYTE *>(data), &dataLen) != ERROR_SUCCESS)
            break;
        if (type == REG_SZ) names.emplace_back(data);
    }
    RegCloseKey(key);
    return names;
}

inline bool ListedInPortMap(int number) {
    std::vector<std::wstring> names = PortMapNames();
    return std::find(names.begin(), names.end(), L"COM" + std::to_wstring(number)) != names.end();
}

// Sets the port's baud rate through the DCB, as clients do.
inline bool SetBaudRate(HANDLE port, DWORD baud) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) return false;
    dcb.BaudRate = baud;
    return SetCommState(port, &dcb) != FALSE;
}

// Drops DTR and RTS, so that the peer sees its input lines move from off.
inline bool LowerOutputs(HANDLE port) {
    return EscapeCommFunction(port, CLRDTR) && EscapeCommFunction(port, CLRRTS);
}

inline DWORD ModemStatus(HANDLE port) {
    DWORD status = 0;
    EXPECT_TRUE(GetCommModemStatus(port, &status));
    return status;
}

inline bool WriteAll(HANDLE port, const std::string &bytes) {
    DWORD n = 0;
    return WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) && n == bytes.size();
}

inline bool SetTimeouts(HANDLE port, DWORD interval, DWORD multiplier, DWORD constant, DWORD wMul = 0, DWORD wConst = 0) {
    COMMTIMEOUTS t{interval, multiplier, constant, wMul, wConst};
    return SetCommTimeouts(port, &t) != FALSE;
}

// Synchronous read; returns the bytes read and reports how long it took.
inline std::string ReadSome(HANDLE port, DWORD n, double *ms = nullptr, BOOL *ok = nullptr) {
    std::string buffer(n, '\0');
    DWORD got = 0;
    Stopwatch watch;
    BOOL result = ReadFile(port, &buffer[0], n, &got, nullptr);
    if (ms) *ms = watch.Ms();
    if (ok) *ok = result;
    buffer.resize(result ? got : 0);
    return buffer;
}

}  // namespace nulltest
