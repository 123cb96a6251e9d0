// Throughput of Rs232Driver against raw WriteFile/ReadFile on the same pty
// pair: 1 MiB in 4 KiB blocks, a writer thread on one end and a reader on the
// other.  Runs alternate between the two ways; the median of each counts.
//
//   serial_bench NEAR FAR      (tools/pty-pair with NEAR FAR -- wine serial_bench.exe NEAR FAR)
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "TarnDriver.h"

namespace {

constexpr DWORD kBlock = 4096;
constexpr DWORD kTotal = 1 << 20;
constexpr int kRounds = 15;

double NowMs() {
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::vector<BYTE> Payload() {
    std::vector<BYTE> block(kBlock);
    for (DWORD i = 0; i < kBlock; ++i) block[i] = static_cast<BYTE>(i * 31 + 7);
    return block;
}

// --- through the library --------------------------------------------------------
IRs232Driver* OpenDriver(long port) {
    CLSID clsid;
    IRs232Driver* driver = nullptr;
    if (FAILED(::CLSIDFromProgID(L"TarnDriver.Rs232Driver", &clsid)) ||
        FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IRs232Driver,
                                  reinterpret_cast<void**>(&driver))))
        return nullptr;
    VARIANT_BOOL ok = 0;
    if (driver->Open(port, &ok) != S_OK) {
        driver->Release();
        return nullptr;
    }
    return driver;
}

// Megabytes a second, or a negative value when a transfer failed.
double DriverRun(long nearPort, long farPort) {
    IRs232Driver* writer = OpenDriver(nearPort);
    IRs232Driver* reader = OpenDriver(farPort);
    double result = -1;
    if (writer && reader) {
        const std::vector<BYTE> block = Payload();
        SAFEARRAYBOUND bound{kBlock, 0};
        SAFEARRAY* array = ::SafeArrayCreate(VT_UI1, 1, &bound);
        void* data = nullptr;
        ::SafeArrayAccessData(array, &data);
        memcpy(data, block.data(), kBlock);
        ::SafeArrayUnaccessData(array);
        VARIANT input;
        input.vt = VT_ARRAY | VT_UI1;
        input.parray = array;

        std::atomic<bool> ok{true};
        const double start = NowMs();
        std::thread sender([&] {
            ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            for (DWORD sent = 0; sent < kTotal && ok; sent += kBlock) ok = writer->Write(input) == S_OK;
            ::CoUninitialize();
        });
        for (DWORD received = 0; received < kTotal && ok; received += kBlock) {
            VARIANT out;
            ::VariantInit(&out);
            ok = reader->Read(kBlock, &out) == S_OK;
            ::VariantClear(&out);
        }
        sender.join();
        const double elapsed = NowMs() - start;
        if (ok) result = kTotal / 1048576.0 / (elapsed / 1000.0);
        ::SafeArrayDestroy(array);
    }
    if (writer) writer->Release();
    if (reader) reader->Release();
    return result;
}

// --- raw, configured the same way ---------------------------------------------------
HANDLE OpenRaw(long port) {
    wchar_t name[32];
    ::wsprintfW(name, L"\\\\.\\COM%ld", port);
    HANDLE handle = ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return handle;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(handle, &dcb);
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = dcb.fNull = 0;
    ::SetCommState(handle, &dcb);
    ::SetupComm(handle, 4096, 4096);
    COMMTIMEOUTS timeouts{0, 4, 200, 4, 200};
    ::SetCommTimeouts(handle, &timeouts);
    return handle;
}

double RawRun(long nearPort, long farPort) {
    HANDLE writer = OpenRaw(nearPort);
    HANDLE reader = OpenRaw(farPort);
    double result = -1;
    if (writer != INVALID_HANDLE_VALUE && reader != INVALID_HANDLE_VALUE) {
        const std::vector<BYTE> block = Payload();
        std::atomic<bool> ok{true};
        const double start = NowMs();
        std::thread sender([&] {
            for (DWORD sent = 0; sent < kTotal && ok; sent += kBlock) {
                DWORD written = 0;
                ok = ::WriteFile(writer, block.data(), kBlock, &written, nullptr) && written == kBlock;
            }
        });
        std::vector<BYTE> buffer(kBlock);
        for (DWORD received = 0; received < kTotal && ok; received += kBlock) {
            DWORD got = 0;
            ok = ::ReadFile(reader, buffer.data(), kBlock, &got, nullptr) && got == kBlock;
        }
        sender.join();
        const double elapsed = NowMs() - start;
        if (ok) result = kTotal / 1048576.0 / (elapsed / 1000.0);
    }
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
    if (reader != INVALID_HANDLE_VALUE) ::CloseHandle(reader);
    return result;
}

// The pty relay (socat) shares the machine: the median of many runs is steadier than any one.
double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const long nearPort = argc > 1 ? std::atol(argv[1]) : 33;
    const long farPort = argc > 2 ? std::atol(argv[2]) : 34;
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::vector<double> drivers, raws;
    for (int round = 0; round < kRounds; ++round) {
        // Either way goes first in turn, so warm-up favours neither.
        const bool rawFirst = round % 2 == 0;
        const double first = rawFirst ? RawRun(nearPort, farPort) : DriverRun(nearPort, farPort);
        const double second = rawFirst ? DriverRun(nearPort, farPort) : RawRun(nearPort, farPort);
        const double raw = rawFirst ? first : second, driver = rawFirst ? second : first;
        if (driver <= 0 || raw <= 0) {
            std::printf("serial_bench: transfers failed on COM%ld/COM%ld (driver %.2f, raw %.2f)\n", nearPort,
                        farPort, driver, raw);
            return 1;
        }
        drivers.push_back(driver);
        raws.push_back(raw);
    }
    ::CoUninitialize();
    const double driver = Median(drivers), raw = Median(raws);
    std::printf("serial_bench: 1 MiB in 4 KiB blocks across a pty pair, median of %d runs each\n", kRounds);
    std::printf("  Rs232Driver Write/Read   %8.2f MB/s (best %.2f)\n", driver,
                *std::max_element(drivers.begin(), drivers.end()));
    std::printf("  raw WriteFile/ReadFile   %8.2f MB/s (best %.2f)\n", raw, *std::max_element(raws.begin(), raws.end()));
    std::printf("  ratio                    %8.2f (goal >= 0.90)\n", driver / raw);
    return 0;
}
